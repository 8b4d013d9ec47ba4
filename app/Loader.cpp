// The loader's logic over TWindowOperations: Connect, the folder scan, the
// upload sequence and the TFTP notification handlers. Protocol work stays in
// THttp_Socket and TIdTrivialFTP; window work stays behind the interface.
#include "app/Loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "http/sslu.h"
#include "runtime/Application.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"

namespace {

/// Unwinds a handler after a cancel request; the guard ends it silently.
/// Not an Exception, so no failure handler on the way mistakes it for one.
struct TCancelled {};

/// The revision marker on the unit's home page, opening quote included.
constexpr std::string_view RevisionMarker = "g_HwId = \"";
/// The largest slice of a wait, so that a cancel ends it quickly.
constexpr auto PumpSlice = std::chrono::milliseconds(250);
constexpr std::size_t ImageHeaderSize = 16;

/// The first 16 bytes of the file at path. A read-only image is as good as
/// any other, and a pipe named like an image ends the scan instead of
/// freezing it. Throws EInOutError.
std::array<std::uint8_t, ImageHeaderSize> ReadImageHeader(const std::string& path) {
    std::array<std::uint8_t, ImageHeaderSize> header{};
    ReadFileStart(path, header);
    return header;
}

/// The names of the folder's entries that end in ".bin" in any letter case
/// and are no directories, in the order of the enumeration. A folder that
/// cannot be read has none.
std::vector<std::string> ImageNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const TFolderEntry& entry : FolderEntries(folder, ".bin"))
        if (!entry.Directory)
            names.push_back(entry.Name);
    return names;
}

} // namespace

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

void TLoader::RunHandler(TNesting nesting, const std::function<void()>& body) {
    if (cancelled_)
        return;
    if (busy_) {
        // The folder edit is disabled during a run, so a change of it now is
        // the loader's own (Connect setting the folder): scan inside the run,
        // whose guard shows any failure. Anything else would nest a second
        // run into the one under way.
        if (nesting == TNesting::nsRunInside)
            body();
        return;
    }
    busy_ = true;
    window_.SetBusy(true);
    try {
        body();
    } catch (const TCancelled&) {
    } catch (const Exception& e) {
        window_.ShowError(ErrorBoxText(e.Message()));
    } catch (const std::exception& e) {
        window_.ShowError(ErrorBoxText(e.what()));
    } catch (...) {
        busy_ = false;
        window_.SetBusy(false);
        throw;
    }
    busy_ = false;
    window_.SetBusy(false);
}

void TLoader::CheckCancel() const {
    if (cancelled_)
        throw TCancelled{};
}

void TLoader::Pump() {
    window_.PumpMessages();
    CheckCancel();
}

// --- Device conversation ----------------------------------------------------

std::string TLoader::FetchUrlText(const std::string& url) {
    TMemoryStream body;
    // The HTTP layer pumps through this loader while the request blocks; a
    // cancel thrown from there ends the request like any failure.
    SetPumpMessagesHook([this] { Pump(); });
    try {
        THttp_Socket http;
        http.FollowRedirects = true;
        http.Verb = 0; // GET
        http.Host = HostOfUrl(url);
        http.Referrer.clear();
        http.Secure = false;
        http.PostData.clear();
        http.Unattended = true;
        http.Path = PathOfUrl(url);
        http.Execute();
        (void)http.StatusCode; // the unit's answers count, whatever their status
        http.Response.SetPosition(0);
        body.CopyFrom(http.Response);
    } catch (...) {
        // Every failure yields what came so far: an unreachable unit is an
        // empty page, and the callers read "no unit" from that.
    }
    SetPumpMessagesHook(nullptr);
    CheckCancel();
    return body.Text();
}

std::int32_t TLoader::QueryHardwareRevision(const std::string& address) {
    const std::string page = FetchUrlText("http://" + address);
    const std::size_t marker = page.find(RevisionMarker);
    if (marker == std::string::npos)
        return 0;
    const std::size_t start = marker + RevisionMarker.size();
    // Without a closing quote the text runs to the end of the page, never past it.
    const std::size_t end = std::min(page.find('"', start), page.size());
    return StrToInt(std::string_view(page).substr(start, end - start));
}

void TLoader::connectbutClick() {
    RunHandler(TNesting::nsRefuse, [this] {
        const std::int32_t r = QueryHardwareRevision(window_.ReadAddress());
        HardwareRevision = static_cast<std::uint8_t>(r); // the low 8 bits
        if (HardwareRevision == 0)
            window_.LogLine("Unable to Connect to " + window_.ReadAddress());
        else
            window_.LogLine("Connected, H/W revision " + std::to_string(HardwareRevision));
        AfterConnect();
    });
}

void TLoader::AfterConnect() {
    window_.SetFileGroupVisible(HardwareRevision > 0);
    if (!window_.DirEditText().empty())
        direditChange();
    else
        window_.SetDirEditText(window_.ProgramFolder()); // its change event scans
}

void TLoader::PumpDelay(double seconds) {
    const auto deadline = TWindowOperations::Clock::now() +
                          std::chrono::duration_cast<TWindowOperations::Clock::duration>(
                              std::chrono::duration<double>(seconds));
    // The window waits for its messages rather than spinning; the slices
    // only bound how long a cancel request waits to be seen.
    for (auto now = TWindowOperations::Clock::now(); now < deadline;
         now = TWindowOperations::Clock::now()) {
        window_.PumpMessagesUntil(std::min(deadline, now + PumpSlice));
        CheckCancel();
    }
}

bool TLoader::WaitForUnit(std::uint8_t revision) {
    const auto giveUp = TWindowOperations::Clock::now() + WaitLimit;
    for (;;) {
        PumpDelay(1.0);
        const std::int32_t r = QueryHardwareRevision(window_.ReadAddress());
        if (static_cast<std::uint8_t>(r) == revision)
            return true;
        if (TWindowOperations::Clock::now() >= giveUp) {
            window_.LogLine("Unit did not come back");
            return false;
        }
    }
}

// --- Image folder scan ------------------------------------------------------

void TLoader::direditChange() {
    RunHandler(TNesting::nsRunInside, [this] {
        window_.ListClear(TImageList::ilWebPages);
        window_.ListClear(TImageList::ilPrograms);
        const std::string text = window_.DirEditText();
        if (!DirectoryExists(text))
            return;
        ImageFolder = text.back() == PathDelim ? text : text + PathDelim;
        for (const std::string& name : ImageNames(ImageFolder)) {
            switch (ClassifyImage(ImageFolder + name)) {
            case TImageKind::ikWebPages:
                window_.ListAppend(TImageList::ilWebPages, name);
                break;
            case TImageKind::ikProgram:
                window_.ListAppend(TImageList::ilPrograms, name);
                break;
            case TImageKind::ikNone:
                break;
            }
        }
        for (const TImageList list : {TImageList::ilWebPages, TImageList::ilPrograms})
            if (window_.ListCount(list) > 0)
                window_.SetListItemIndex(list, 0);
    });
}

TImageKind TLoader::ClassifyImage(const std::string& path) {
    const auto header = ReadImageHeader(path);
    if (std::memcmp(header.data(), "MPFS", 4) == 0) {
        const char* tag = HardwareRevision == 171 ? "V1" : "V4";
        // The family tag may stand in the folder's path as well as the name.
        return UpperCase(path).find(tag) != std::string::npos ? TImageKind::ikWebPages
                                                              : TImageKind::ikNone;
    }
    return header[6] != 0 ? TImageKind::ikProgram : TImageKind::ikNone;
}

// --- Upload sequence --------------------------------------------------------

void TLoader::uploadbutClick() {
    RunHandler(TNesting::nsRefuse, [this] {
        const std::string suffix = HardwareRevision == 171 ? ".bin" : "2.bin";
        window_.ClearLog();
        FetchUrlText("http://" + window_.ReadAddress() + "/index2.htm?tftpp=69");
        FetchUrlText("http://" + window_.ReadAddress() + "/index2.htm?REBOOT");
        if (!AnnounceRebootAndWait())
            return;
        if (!UploadImage(TImageList::ilWebPages, "Uploading Web page file ", "rrpages" + suffix,
                         "Web pages transfered", "Web pages transfer error"))
            return;
        if (!AnnounceRebootAndWait())
            return;
        if (!UploadImage(TImageList::ilPrograms, "Uploading Program file ", "rrboot" + suffix,
                         "Program transfered", "Program transfer error"))
            return;
        window_.LogLine("Update successful");
    });
}

bool TLoader::AnnounceRebootAndWait() {
    window_.LogLine("Rebooting unit");
    window_.SetStatus("Wait");
    return WaitForUnit(HardwareRevision);
}

bool TLoader::UploadImage(TImageList list, const std::string& announcement,
                          const std::string& remoteName, const std::string& doneLine,
                          const std::string& errorLine) {
    const int index = window_.ListItemIndex(list);
    if (index < 0 || index >= window_.ListCount(list))
        return true;
    const std::string entry = window_.ListItem(list, index);
    // A file gone since the scan is skipped, like an empty selection.
    if (!FileExists(ImageFolder + entry))
        return true;
    window_.LogLine(announcement + entry);
    const bool ok = TftpPutFile(window_.ReadAddress(), TftpPort, ImageFolder + entry, remoteName);
    window_.LogLine(ok ? doneLine : errorLine);
    return ok;
}

bool TLoader::TftpPutFile(const std::string& host, std::uint16_t port, const std::string& localPath,
                          const std::string& remoteName) {
    IdTrivialFTP1.SetHost(host);
    IdTrivialFTP1.SetPort(port);
    bool result = true;
    TransferFailure.clear();
    try {
        IdTrivialFTP1.OpenEndpoint();
        IdTrivialFTP1.UploadFile(localPath, remoteName);
    } catch (const std::exception& e) {
        // The log shows only that the transfer failed; the trace and the
        // status label say why.
        result = false;
        TransferFailure = e.what();
        window_.TraceOut(TransferFailure);
    } catch (...) {
        result = false; // a cancel from a notification; seen below
    }
    IdTrivialFTP1.CloseEndpoint();
    CheckCancel();
    // The transfer's end has shown "Done" even so; a failed run must not
    // read like a finished one.
    if (!result)
        window_.SetStatus(TransferFailure);
    return result;
}

void TLoader::AbortCancelledTransfer() {
    // Closing the endpoint makes the transfer's wait for a reply fail at its
    // next slice; the failure then unwinds into the cancel.
    if (cancelled_)
        IdTrivialFTP1.CloseEndpoint();
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
    // A cancel ends the transfer here, as any failure of a handler does.
    Pump();
}

void TLoader::IdTrivialFTP1WorkEnd(TIdComponent* /*ASender*/, TWorkMode /*AWorkMode*/) {
    window_.SetProgress(0, 0);
    window_.SetStatus("Done");
    window_.TraceOut("Done");
    // No cancel check: the transfer may be unwinding from a failure already.
    window_.PumpMessages();
}
