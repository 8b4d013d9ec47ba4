// The loader's logic over TWindowOperations: Connect, the folder scan, the
// upload sequence and the TFTP notification handlers. Protocol work stays in
// THttp_Socket and TIdTrivialFTP; window work stays behind the interface.
#include "app/Loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "http/HttpText.h"
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
/// and are files, in the order of the enumeration. A folder that cannot be
/// read has none. Directories, pipes and devices (or links to them) are no
/// images: a link named like an image to an endless device would otherwise
/// be offered, and sent, as a program.
std::vector<std::string> ImageNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const TFolderEntry& entry : FolderEntries(folder, ".bin"))
        if (!entry.Directory && !entry.Special)
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
        // The folder edit is disabled during a run, so a scan now is the
        // run's own (Connect setting the folder): it scans inside the run,
        // whose guard shows any failure. Anything else would nest a second
        // run into the one under way.
        if (nesting == TNesting::nsScan)
            body();
        return;
    }
    // A scan is no run: it neither waits nor talks to the unit, so it leaves
    // the controls as they are. Disabling the folder edit for it would take
    // the keyboard from the user typing a path into it.
    const bool run = nesting == TNesting::nsRun;
    const auto end = [this, run] {
        if (run) {
            busy_ = false;
            window_.SetBusy(false);
        }
    };
    if (run) {
        busy_ = true;
        // One unit from start to end: a run talks to the address it began with.
        address_ = window_.ReadAddress();
        window_.SetBusy(true);
    }
    try {
        body();
    } catch (const TCancelled&) {
    } catch (const Exception& e) {
        window_.ShowError(ErrorBoxText(e.Message()));
    } catch (const std::exception& e) {
        window_.ShowError(ErrorBoxText(e.what()));
    } catch (...) {
        end();
        throw;
    }
    end();
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
    const std::string host = HostOfUrl(url);
    std::string path = PathOfUrl(url);
    std::string page;
    // The HTTP layer pumps through this loader while the request blocks; a
    // cancel thrown from there ends the request like any failure.
    SetPumpMessagesHook([this] { Pump(); });
    try {
        // The service follows no redirect by itself: every request goes to
        // the unit's own server, whatever a page says, on every platform.
        for (int redirects = 0;; ++redirects) {
            THttp_Socket http;
            http.FollowRedirects = false;
            http.Verb = 0; // GET
            http.Host = host;
            http.Referrer.clear();
            http.Secure = false;
            http.PostData.clear();
            http.Unattended = true;
            http.Path = path;
            http.ResponseLimit = MaxPageSize;
            http.Execute();
            // The unit's answers count, whatever their status, unless they
            // send the loader elsewhere.
            const auto location =
                IsRedirectStatus(http.StatusCode)
                    ? HeaderValue(HeaderBlockLines(http.RawHeaders), "Location", 0)
                    : std::nullopt;
            if (!location) {
                page = http.Response.Text();
                break;
            }
            const auto next = SameServerTarget(host, path, *location);
            if (!next || redirects == MaxRedirects)
                break; // a page elsewhere is no page of this unit
            path = *next;
        }
    } catch (...) {
        // Every failure yields the empty page: an unreachable unit, a page
        // cut short or too large, and the callers read "no unit" from that.
    }
    SetPumpMessagesHook(nullptr);
    CheckCancel();
    return page;
}

std::int32_t RevisionOfPage(std::string_view page) {
    const std::size_t marker = page.find(RevisionMarker);
    if (marker == std::string_view::npos)
        return 0;
    const std::size_t start = marker + RevisionMarker.size();
    // Without its closing quote the revision may be cut short ("17" of
    // "171"): no revision then, rather than the wrong unit's images.
    const std::size_t end = page.find('"', start);
    if (end == std::string_view::npos)
        return 0;
    return StrToInt(page.substr(start, end - start));
}

std::int32_t TLoader::QueryHardwareRevision(const std::string& address) {
    return RevisionOfPage(FetchUrlText("http://" + address));
}

void TLoader::connectbutClick() {
    RunHandler(TNesting::nsRun, [this] {
        const std::int32_t r = QueryHardwareRevision(address_);
        HardwareRevision = static_cast<std::uint8_t>(r); // the low 8 bits
        if (HardwareRevision == 0)
            window_.LogLine("Unable to Connect to " + address_);
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
        const std::int32_t r = QueryHardwareRevision(address_);
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
    RunHandler(TNesting::nsScan, [this] {
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
    RunHandler(TNesting::nsRun, [this] {
        const std::string suffix = HardwareRevision == 171 ? ".bin" : "2.bin";
        window_.ClearLog();
        FetchUrlText("http://" + address_ + "/index2.htm?tftpp=69");
        FetchUrlText("http://" + address_ + "/index2.htm?REBOOT");
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
    const bool ok = TftpPutFile(address_, TftpPort, ImageFolder + entry, remoteName);
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
    // The transfer ends at its next wait slice and tells the unit first, so
    // that the unit does not wait for the rest of an image; the failure then
    // unwinds into the cancel.
    if (cancelled_)
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
