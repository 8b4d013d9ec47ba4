// The loader's sequence: Connect, the commands, the waits for the unit, the
// upload with its TFTP component, the checks before it, and the runs' guard.
// The unit's pages are read through UnitPages.h, the folder scanned through
// ImageScan.h. It reaches a window only through TWindowOperations, so every
// front end (the Qt window, the Win32 window, the headless one) runs it
// unchanged. No toolkit type, no socket and no libcurl type belongs
// here; HTTP goes through THttp_Socket, TFTP through TIdTrivialFTP.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/ImageScan.h"
#include "app/RunOutcome.h"
#include "app/UnitPages.h"
#include "app/WindowOperations.h"
#include "tftp/IdTrivialFTP.h"

/// The application title: the caption of the error box and the HTTP agent.
inline constexpr const char* ApplicationTitleText = "Tessik TFTP Loader";

/// The error box's text for a failure message: "." appended when the last
/// character sorts after "." (a letter or a digit, for instance).
std::string ErrorBoxText(const std::string& message);

/// A transfer's result and its failure together.
struct TTransferResult {
    /// Why the transfer failed, on one line; empty when the file was sent.
    std::string Failure;
    /// The SHA-256 of the bytes sent, once all of them were acknowledged.
    std::string Sha256;
    explicit operator bool() const noexcept { return Failure.empty(); }
};

/// The revision a home page reported, or why none was read.
struct TRevisionQuery {
    /// RevisionOfPage of the page; 0 when the fetch failed.
    std::int32_t Revision = 0;
    /// The fetch's failure; empty when a page came.
    std::string Failure;
};

class TLoader {
public:
    /// The TFTP port of the unit; also the value of the TFTP command.
    static constexpr std::uint16_t TftpPort = 69;
    /// How long one reply of a transfer is awaited, in milliseconds.
    static constexpr std::int32_t TftpReceiveTimeout = 4000;

    /// Binds the logic to its window and sets the application title.
    explicit TLoader(TWindowOperations& window);
    ~TLoader();
    TLoader(const TLoader&) = delete;
    TLoader& operator=(const TLoader&) = delete;

    /// Hardware revision of the connected unit, 0 = not connected; written
    /// by Connect. It picks the family tag of the web-page images that the
    /// scan offers and the remote names of the upload.
    std::uint8_t HardwareRevision = 0;
    /// The image folder of the last scan whose folder existed, ending in
    /// PathDelim.
    std::string ImageFolder;
    /// How long WaitForUnit polls before it gives up.
    std::chrono::milliseconds WaitLimit{std::chrono::seconds(300)};
    /// After the program image, Upload waits once more for the unit to
    /// report its revision, and succeeds only when it does: the outcome's
    /// Verified says whether it came back. Off: the sequence ends with the
    /// program's transfer, and Verified is none.
    bool Verify = false;
    /// A list of SHA-256 digests (sha256sum's form) that every image an
    /// Upload is about to send must be listed in, checked before the unit
    /// gets any command; empty for none.
    std::string ManifestFile;
    /// When no ManifestFile is given: the image folder's own SHA256SUMS, if
    /// it holds one, is the manifest. For the windows, where the user picks
    /// a folder rather than a list.
    bool FolderManifest = false;
    /// The window's TFTP component: port 69, replies awaited 4000 ms.
    TIdTrivialFTP IdTrivialFTP1;

    // Handlers, called by the front end from its button clicks and from the
    // folder edit's change event. Each turns an uncaught failure into the
    // error box. Connect and Upload are runs: the window is busy while one
    // runs, which reads the address once, at its start, and talks to that
    // unit to its end; a second run is refused meanwhile. The scan is no run
    // and leaves the window as it is; during a run it is the loader's own
    // (Connect setting the folder) and scans at once.

    /// Connect: queries the revision, logs it, shows or hides the group,
    /// scans the folder.
    void connectbutClick();
    /// The upload sequence: commands, waits and the two transfers.
    void uploadbutClick();
    /// The folder scan into the two lists.
    void direditChange();

    /// Asks the running handler to end: a wait or fetch ends within a
    /// second, a transfer at its next notification or wait slice (the unit
    /// told with an ERROR packet), with no further log line. The loader
    /// stays cancelled: later handlers do nothing. For a window that closes.
    /// Safe to call from a message handled inside a pump.
    void Cancel() noexcept { cancelled_ = true; }
    bool Cancelled() const noexcept { return cancelled_; }
    /// Ends the running run as Cancel does, but only that one: the next
    /// Connect or Upload runs as usual. Nothing when no run is under way.
    void CancelRun() noexcept {
        if (busy_)
            runCancelled_ = true;
    }
    /// From now on every run, and each of its fetches, waits and transfers,
    /// ends once limit has passed (counted from this call), the unit told
    /// when a transfer was under way; such a run ends with rrTimeLimit.
    /// Zero or less: no limit, as at creation.
    void SetTimeLimit(std::chrono::milliseconds limit);
    /// Once a cancel has been asked for or the time limit has passed, ends
    /// a transfer that waits for the unit's reply at its next wait slice
    /// instead of after the reply timeout, sending the unit ERROR 0 first;
    /// does nothing otherwise. For the idle hook that a socket wait calls
    /// between its slices.
    void AbortCancelledTransfer();
    /// True while a handler runs.
    bool Busy() const noexcept { return busy_; }
    /// The address (as ReadAddress gave it) of the unit that the last
    /// Connect found; empty when it found none. Upload talks to this unit
    /// only: a field that reads otherwise is refused.
    const std::string& ConnectedAddress() const noexcept { return connectedAddress_; }
    /// How the last Connect or Upload ended; the window is told the same
    /// through RunEnded. Before the first run: a failed Connect.
    const TRunOutcome& Outcome() const noexcept { return outcome_; }

    static constexpr std::int64_t MaxPageSize = TPageLimits::MaxPageSize;
    static constexpr int MaxRedirects = TPageLimits::MaxRedirects;
    static constexpr std::chrono::milliseconds FetchTimeLimit = TPageLimits::FetchTimeLimit;
    /// The shortest time a poll of the wait is given, even when the wait's
    /// limit is nearer: a poll cut shorter could not succeed at all.
    static constexpr std::chrono::milliseconds MinPollTime{1000};

    /// The page at url as FetchPage gets it, within limit and the run's
    /// time limit, the window pumped meanwhile; a failure is traced. Throws
    /// nothing but a cancel or the run's time limit.
    TPageFetch FetchUrlText(const std::string& url,
                            std::chrono::milliseconds limit = FetchTimeLimit);
    /// The revision that the unit's home page reports, fetched within
    /// limit. Throws EConvertError when the revision text is no integer.
    TRevisionQuery QueryHardwareRevision(const std::string& address,
                                         std::chrono::milliseconds limit = FetchTimeLimit);
    /// Shows or hides the group and rescans (or sets) the folder.
    void AfterConnect();
    /// Waits seconds while the window handles its messages.
    void PumpDelay(double seconds);
    /// Polls the home page of the running handler's address once a second
    /// until it reports revision, showing the seconds waited; false (after
    /// logging "Unit did not come back") once WaitLimit has passed, which
    /// also ends a poll under way.
    bool WaitForUnit(std::uint8_t revision);
    /// Sends localPath to host:port as remoteName: the result says whether
    /// it was sent and, if not, why (shown in the trace and the status
    /// label too).
    TTransferResult TftpPutFile(const std::string& host, std::uint16_t port,
                                const std::string& localPath, const std::string& remoteName);
    /// ClassifyImage for the connected unit's revision.
    TImageKind ClassifyImage(const std::string& path);

    void IdTrivialFTP1Status(TIdComponent* ASender, TIdStatus AStatus,
                             const std::string& AStatusText);
    void IdTrivialFTP1WorkBegin(TIdComponent* ASender, TWorkMode AWorkMode,
                                std::int64_t AWorkCountMax);
    void IdTrivialFTP1Work(TIdComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount);
    void IdTrivialFTP1WorkEnd(TIdComponent* ASender, TWorkMode AWorkMode);

private:
    enum class TNesting { nsRun, nsScan };

    /// Runs body as a handler: a failure shown in the error box, a cancel
    /// or the time limit ended silently. A run reads the address, is busy
    /// from entry to every way out and ends with its outcome told to the
    /// window; a scan is none of these.
    void RunHandler(TNesting nesting, TRunKind kind, const std::function<void()>& body);
    /// Lets the window handle its waiting messages; ends the handler when
    /// a cancel has been asked for.
    void Pump();
    /// Why the running handler must end now, if it must.
    std::optional<TRunResult> StopRequested() const;
    /// Ends the handler (silently) when a cancel has been asked for or the
    /// time limit has passed.
    void CheckCancel() const;
    /// Ends the handler now, silently, with result (a cancel or the time
    /// limit).
    [[noreturn]] void Stop(TRunResult result) const;
    /// The run has reached step: the outcome's step, told to the window.
    void Reach(TRunStep step);
    /// The run has done all it had to.
    void Succeed();
    /// The run's failure at the step it reached: the outcome's reason.
    void Fail(std::string reason);
    /// Logs "Rebooting unit", shows "Wait" and waits for the unit to report
    /// the connected revision; false when it did not come back.
    bool AnnounceRebootAndWait(TRunStep step);
    /// Refuses an Upload whose unit is not the one connected, and one whose
    /// chosen images the manifest (ManifestFile, or the folder's own) does
    /// not list with their SHA-256: before the unit gets any command.
    void CheckUpload();
    /// Sends the entry selected in list; false when the transfer failed,
    /// a file that is gone since the scan included, or sent bytes other
    /// than the manifest lists. The digest of what was sent goes to sha256.
    /// No selection sends nothing and succeeds.
    bool UploadImage(TImageList list, TRunStep step, const std::string& announcement,
                     const std::string& remoteName, const std::string& doneLine,
                     const std::string& errorLine, std::string& sha256);
    /// The digest the manifest lists for the image chosen in list; empty
    /// without a manifest.
    std::string& ExpectedSha256(TImageList list) {
        return list == TImageList::ilWebPages ? expectedPages_ : expectedProgram_;
    }

    TWindowOperations& window_;
    /// The address of the running Connect or Upload, read at its start.
    std::string address_;
    std::string connectedAddress_;
    /// What the manifest lists for the chosen images, for the check of what
    /// was sent; empty without one.
    std::string expectedPages_, expectedProgram_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> runCancelled_{false};
    bool busy_ = false;
    TRunOutcome outcome_;
    /// The time limit of SetTimeLimit and when it passes; none by default.
    std::chrono::milliseconds timeLimit_{0};
    std::optional<TWindowOperations::Clock::time_point> deadline_;
};
