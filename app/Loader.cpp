// The loader's sequence over TWindowOperations: Connect, the wait for the
// unit, the folder scan, the upload and the TFTP notification handlers; the
// run guard that each of them runs under is in LoaderRun.cpp. Protocol work
// stays in THttp_Socket and TIdTrivialFTP; window work stays behind the
// interface.
#include "app/Loader.h"

#include <algorithm>
#include <fmt/format.h>
#include <functional>

#include "app/ImageManifest.h"
#include "http/HttpText.h"
#include "http/sslu.h"
#include "runtime/Application.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "runtime/Sha256.h"

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

TLoader::TLoader(TWindowOperations& window) : window_(window) {
    SetApplicationTitle(ApplicationTitleText);
    IdTrivialFTP1.SetName("IdTrivialFTP1");
    IdTrivialFTP1.SetPort(TftpPort);
    IdTrivialFTP1.SetReceiveTimeout(TftpReceiveTimeout);
    IdTrivialFTP1.OnStatus = std::bind_front(&TLoader::IdTrivialFTP1Status, this);
    IdTrivialFTP1.OnWorkBegin = std::bind_front(&TLoader::IdTrivialFTP1WorkBegin, this);
    IdTrivialFTP1.OnWork = std::bind_front(&TLoader::IdTrivialFTP1Work, this);
    IdTrivialFTP1.OnWorkEnd = std::bind_front(&TLoader::IdTrivialFTP1WorkEnd, this);
}

TLoader::~TLoader() {
    // The component may still report while it goes; the window may be gone.
    IdTrivialFTP1.OnStatus = nullptr;
    IdTrivialFTP1.OnWorkBegin = nullptr;
    IdTrivialFTP1.OnWork = nullptr;
    IdTrivialFTP1.OnWorkEnd = nullptr;
}

// --- Device conversation ----------------------------------------------------

TPageFetch TLoader::FetchUrlText(const std::string& url, std::chrono::milliseconds limit) {
    CheckCancel();
    // A cancel thrown by the pump inside the request ends the fetch; the
    // run's own time limit bounds it too.
    const auto fetchEnd = TWindowOperations::Clock::now() + std::min(limit, FetchTimeLimit);
    TPageFetch fetch = FetchPage(url, limit, deadline_, [this] { Pump(); });
    if (!fetch.Failure.empty())
        window_.TraceOut("GET " + url + ": " + fetch.Failure);
    CheckCancel();
    // The service may end a request a moment before the run's limit by the
    // loader's clock: a fetch that the run's limit ended is the run's end.
    if (fetch.TimedOut && deadline_ && *deadline_ <= fetchEnd)
        Stop(TRunResult::rrTimeLimit);
    return fetch;
}

TRevisionQuery TLoader::QueryHardwareRevision(const std::string& address,
                                              std::chrono::milliseconds limit) {
    TPageFetch fetch = FetchUrlText("http://" + address, limit);
    return {RevisionOfPage(fetch.Text), std::move(fetch.Failure)};
}

void TLoader::connectbutClick() {
    RunHandler(TNesting::nsRun, TRunKind::rkConnect, [this] {
        connectedAddress_.clear();
        window_.SetStatus("Connecting to " + address_);
        const TPageFetch home = FetchUrlText("http://" + address_);
        const std::int32_t r = RevisionOfPage(home.Text);
        HardwareRevision = static_cast<std::uint8_t>(r); // the low 8 bits
        if (HardwareRevision == 0) {
            window_.LogLine("Unable to Connect to " + address_);
            if (!home.Failure.empty())
                Fail(home.Failure);
            else if (!HasRevisionMarker(home.Text))
                Fail("no hardware revision on the unit's home page");
            else
                Fail(fmt::format("the unit reports hardware revision {}, which is none", r));
        } else {
            window_.LogLine("Connected, H/W revision " + std::to_string(HardwareRevision));
        }
        // The unit is found once its revision is read, whatever the scan
        // that follows makes of the folder.
        if (HardwareRevision != 0)
            connectedAddress_ = address_;
        AfterConnect();
        if (HardwareRevision != 0)
            Succeed();
    });
}

void TLoader::AfterConnect() {
    window_.SetFileGroupVisible(HardwareRevision > 0);
    if (!window_.DirEditText().empty())
        direditChange();
    else
        window_.SetDirEditText(window_.ProgramFolder()); // its change event scans
}

bool TLoader::WaitForUnit(std::uint8_t revision) {
    using Clock = TWindowOperations::Clock;
    using std::chrono::milliseconds;
    const auto start = Clock::now();
    const auto giveUp = start + WaitLimit;
    for (;;) {
        // The status counts the seconds, so that a long wait shows it goes on.
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
        if (waited.count() > 0)
            window_.SetStatus(
                fmt::format("Wait {} s of {}", waited.count(), SecondsText(WaitLimit)));
        PumpDelay(1.0);
        // A poll under way ends at the wait's limit too, but is given a
        // moment: one cut shorter could never see the unit.
        const auto left = std::chrono::duration_cast<milliseconds>(giveUp - Clock::now());
        const TRevisionQuery poll = QueryHardwareRevision(address_, std::max(left, MinPollTime));
        if (static_cast<std::uint8_t>(poll.Revision) == revision)
            return true;
        if (Clock::now() >= giveUp) {
            window_.LogLine("Unit did not come back");
            Fail(fmt::format("the unit did not report hardware revision {} within {} s", revision,
                             SecondsText(WaitLimit)) +
                 (poll.Failure.empty() ? "" : " (last poll: " + poll.Failure + ")"));
            return false;
        }
    }
}

// --- Image folder scan ------------------------------------------------------

void TLoader::direditChange() {
    RunHandler(TNesting::nsScan, TRunKind::rkConnect, [this] {
        window_.ListClear(TImageList::ilWebPages);
        window_.ListClear(TImageList::ilPrograms);
        const auto scan = ScanImageFolder(window_.DirEditText(), HardwareRevision);
        if (!scan)
            return;
        ImageFolder = scan->Folder;
        for (const std::string& name : scan->WebPages)
            window_.ListAppend(TImageList::ilWebPages, name);
        for (const std::string& name : scan->Programs)
            window_.ListAppend(TImageList::ilPrograms, name);
        // A file that cannot be read ends the scan there, with what came
        // before it listed and nothing chosen.
        if (!scan->Failure.empty()) {
            window_.TraceOut("scan stopped at " + scan->FailedName + ": " + scan->Failure);
            window_.ScanStopped(scan->FailedName, scan->Failure);
            throw Exception(scan->Failure);
        }
        for (const TImageList list : {TImageList::ilWebPages, TImageList::ilPrograms})
            if (window_.ListCount(list) > 0)
                window_.SetListItemIndex(list, 0);
    });
}

TImageKind TLoader::ClassifyImage(const std::string& path) {
    return ::ClassifyImage(path, HardwareRevision);
}

// --- Upload sequence --------------------------------------------------------

void TLoader::uploadbutClick() {
    RunHandler(TNesting::nsRun, TRunKind::rkUpload, [this] {
        const std::string suffix = HardwareRevision == 171 ? ".bin" : "2.bin";
        CheckUpload();
        window_.ClearLog();
        Reach(TRunStep::spCommands);
        FetchUrlText("http://" + address_ + "/index2.htm?tftpp=69");
        FetchUrlText("http://" + address_ + "/index2.htm?REBOOT");
        if (!AnnounceRebootAndWait(TRunStep::spFirstWait))
            return;
        if (!UploadImage(TImageList::ilWebPages, TRunStep::spWebPages, "Uploading Web page file ",
                         "rrpages" + suffix, "Web pages transfered", "Web pages transfer error",
                         outcome_.PagesSha256))
            return;
        if (!AnnounceRebootAndWait(TRunStep::spSecondWait))
            return;
        if (!UploadImage(TImageList::ilPrograms, TRunStep::spProgram, "Uploading Program file ",
                         "rrboot" + suffix, "Program transfered", "Program transfer error",
                         outcome_.ProgramSha256))
            return;
        // The unit reboots into its new program: only its answer tells that
        // it runs. Without a program sent, the wait before told it already.
        if (Verify && !outcome_.ProgramSha256.empty() &&
            !AnnounceRebootAndWait(TRunStep::spVerify)) {
            outcome_.Reason = "Unit did not come back (" + outcome_.Reason + ")";
            return;
        }
        if (Verify)
            outcome_.Verified = true;
        window_.LogLine("Update successful");
        Succeed();
    });
}

void TLoader::CheckUpload() {
    if (address_ != connectedAddress_)
        throw Exception(connectedAddress_.empty()
                            ? "No unit is connected: Connect to " + address_ + " first"
                            : "The address is not that of the unit connected (" +
                                  connectedAddress_ + "): Connect to " + address_ + " first");
    expectedPages_.clear();
    expectedProgram_.clear();
    std::string manifestFile = ManifestFile;
    if (manifestFile.empty() && FolderManifest && FileExists(ImageFolder + FolderManifestName))
        manifestFile = ImageFolder + FolderManifestName;
    if (manifestFile.empty())
        return;
    const TImageManifest manifest = TImageManifest::Read(manifestFile);
    for (const TImageList list : {TImageList::ilWebPages, TImageList::ilPrograms}) {
        const int index = window_.ListItemIndex(list);
        if (index < 0 || index >= window_.ListCount(list))
            continue;
        const std::string entry = window_.ListItem(list, index);
        // An image that cannot be read cannot be vouched for either.
        std::string sha256;
        try {
            sha256 = FileSha256(ImageFolder + entry);
        } catch (const Exception& e) {
            throw EManifestError(e.Message());
        }
        if (const auto refusal = manifest.Refusal(entry, sha256))
            throw EManifestError(*refusal);
        ExpectedSha256(list) = sha256;
    }
}

bool TLoader::AnnounceRebootAndWait(TRunStep step) {
    Reach(step);
    window_.LogLine("Rebooting unit");
    window_.SetStatus("Wait");
    return WaitForUnit(HardwareRevision);
}

bool TLoader::UploadImage(TImageList list, TRunStep step, const std::string& announcement,
                          const std::string& remoteName, const std::string& doneLine,
                          const std::string& errorLine, std::string& sha256) {
    const int index = window_.ListItemIndex(list);
    if (index < 0 || index >= window_.ListCount(list))
        return true;
    Reach(step);
    const std::string entry = window_.ListItem(list, index);
    // A chosen image that is gone since the scan (or is a folder now) is no
    // image sent: the transfer fails to open it, and the run with it.
    window_.LogLine(announcement + entry);
    const TTransferResult sent = TftpPutFile(address_, TftpPort, ImageFolder + entry, remoteName);
    window_.LogLine(sent ? doneLine : errorLine);
    if (!sent) {
        Fail(sent.Failure);
        return false;
    }
    sha256 = sent.Sha256;
    window_.TraceOut("SHA-256 " + sha256 + " sent as " + remoteName + " from " + entry);
    // The file may have been replaced between the check and its transfer.
    const std::string& expected = ExpectedSha256(list);
    if (!expected.empty() && expected != sha256) {
        Fail(EscapeControls(entry) + " was sent with SHA-256 " + sha256 +
             ", not the one the manifest lists (" + expected + ")");
        return false;
    }
    return true;
}

TTransferResult TLoader::TftpPutFile(const std::string& host, std::uint16_t port,
                                     const std::string& localPath, const std::string& remoteName) {
    IdTrivialFTP1.SetHost(host);
    IdTrivialFTP1.SetPort(port);
    TTransferResult result;
    try {
        IdTrivialFTP1.OpenEndpoint();
        IdTrivialFTP1.UploadFile(localPath, remoteName);
        result.Sha256 = IdTrivialFTP1.SentSha256();
    } catch (const std::exception& e) {
        // The log shows only that the transfer failed; the trace and the
        // status label say why, on one line: a system text may carry its
        // own line breaks.
        result.Failure = OneLine(e.what());
        if (result.Failure.empty())
            result.Failure = "the transfer failed";
        window_.TraceOut(result.Failure);
    }
    IdTrivialFTP1.CloseEndpoint();
    CheckCancel();
    // The transfer's end has shown "Done" even so; a failed run must not
    // read like a finished one.
    if (!result)
        window_.SetStatus(result.Failure);
    return result;
}

void TLoader::AbortCancelledTransfer() {
    // The transfer ends at its next wait slice and tells the unit first, so
    // that the unit does not wait for the rest of an image; the failure then
    // unwinds into the cancel.
    if (StopRequested())
        IdTrivialFTP1.AbortTransfer();
}

void TLoader::IdTrivialFTP1Status(TIdComponent* /*ASender*/, TIdStatus AStatus,
                                  const std::string& AStatusText) {
    window_.SetStatus(AStatusText);
    window_.TraceOut(std::to_string(static_cast<int>(AStatus)) + "  " + AStatusText);
    // No cancel check: the close of the endpoint reports too, and it must run.
    window_.PumpMessages();
}

void TLoader::IdTrivialFTP1WorkBegin(TIdComponent* /*ASender*/, TWorkMode /*AWorkMode*/,
                                     std::int64_t AWorkCountMax) {
    window_.SetProgress(0, AWorkCountMax);
}

void TLoader::IdTrivialFTP1Work(TIdComponent* /*ASender*/, TWorkMode AWorkMode,
                                std::int64_t AWorkCount) {
    window_.SetProgress(AWorkCount, IdTrivialFTP1.WorkStateOf(AWorkMode).CountMax);
    window_.SetStatus(std::to_string(AWorkCount));
    window_.PumpMessages();
    // Not a failure thrown from here: the transfer would end without telling
    // the unit.
    AbortCancelledTransfer();
}

void TLoader::IdTrivialFTP1WorkEnd(TIdComponent* /*ASender*/, TWorkMode /*AWorkMode*/) {
    window_.SetProgress(0, 0);
    window_.SetStatus("Done");
    window_.TraceOut("Done");
    // No cancel check: the transfer may be unwinding from a failure already.
    window_.PumpMessages();
}
