// The loader's logic: the conversation with the unit over HTTP (Connect, the
// commands, the wait for the unit), the image folder scan, and the upload
// sequence with its TFTP component. It reaches a window only through
// TWindowOperations, so every front end (the Qt window, the headless one)
// runs it unchanged. No toolkit type, no socket and no libcurl type belongs
// here; HTTP goes through THttp_Socket, TFTP through TIdTrivialFTP.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/WindowOperations.h"
#include "tftp/IdTrivialFTP.h"

/// The application title: the caption of the error box and the HTTP agent.
inline constexpr const char* ApplicationTitleText = "Tessik TFTP Loader";

/// What the header of an image file makes of it.
enum class TImageKind { ikNone, ikWebPages, ikProgram };

/// The error box's text for a failure message: "." appended when the last
/// character sorts after "." (a letter or a digit, for instance).
std::string ErrorBoxText(const std::string& message);

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
    /// Why the last transfer failed: its failure's message, which the status
    /// label shows too. Empty after a transfer that succeeded.
    std::string TransferFailure;
    /// The window's TFTP component: port 69, replies awaited 4000 ms.
    TIdTrivialFTP IdTrivialFTP1;

    // Handlers, called by the front end from its button clicks and from the
    // folder edit's change event. Each disables Connect, Upload and the
    // folder edit while it runs and turns an uncaught failure into the error
    // box. Connect and Upload are refused while either runs; a change of the
    // folder edit during a run is the loader's own and scans at once.

    /// Connect: queries the revision, logs it, shows or hides the group,
    /// scans the folder.
    void connectbutClick();
    /// The upload sequence: commands, waits and the two transfers.
    void uploadbutClick();
    /// The folder scan into the two lists.
    void direditChange();

    /// Asks the running handler to end: a wait or fetch ends within a
    /// second, a transfer at its next notification, with no further log
    /// line. The loader stays cancelled: later handlers do nothing.
    /// Safe to call from a message handled inside a pump.
    void Cancel() noexcept { cancelled_ = true; }
    bool Cancelled() const noexcept { return cancelled_; }
    /// Once a cancel has been asked for, ends a transfer that waits for the
    /// unit's reply at its next wait slice instead of after the reply
    /// timeout; does nothing otherwise. For the idle hook that a socket wait
    /// calls between its slices.
    void AbortCancelledTransfer();
    /// True while a handler runs.
    bool Busy() const noexcept { return busy_; }

    /// The whole body of the answer to a GET of url, byte for byte; empty
    /// (or what came before the failure) when the fetch failed in any way.
    std::string FetchUrlText(const std::string& url);
    /// The revision on the unit's home page; 0 when there is no page or no
    /// marker. Throws EConvertError when the revision text is no integer.
    std::int32_t QueryHardwareRevision(const std::string& address);
    /// Shows or hides the group and rescans (or sets) the folder.
    void AfterConnect();
    /// Waits seconds while the window handles its messages.
    void PumpDelay(double seconds);
    /// Polls the home page once a second until it reports revision; false
    /// (after logging "Unit did not come back") once WaitLimit has passed.
    bool WaitForUnit(std::uint8_t revision);
    /// Sends localPath to host:port as remoteName; false when the transfer
    /// failed, its message then in TransferFailure, the trace and the status
    /// label.
    bool TftpPutFile(const std::string& host, std::uint16_t port, const std::string& localPath,
                     const std::string& remoteName);
    /// The kind of the image at path by its first 16 bytes. Throws
    /// EInOutError when the file cannot be opened or is shorter.
    TImageKind ClassifyImage(const std::string& path);

    void IdTrivialFTP1Status(TIdComponent* ASender, TIdStatus AStatus,
                             const std::string& AStatusText);
    void IdTrivialFTP1WorkBegin(TIdComponent* ASender, TWorkMode AWorkMode,
                                std::int64_t AWorkCountMax);
    void IdTrivialFTP1Work(TIdComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount);
    void IdTrivialFTP1WorkEnd(TIdComponent* ASender, TWorkMode AWorkMode);

private:
    enum class TNesting { nsRefuse, nsRunInside };

    /// Runs body as a handler: busy on entry and off on every way out, a
    /// failure shown in the error box, a cancel ended silently.
    void RunHandler(TNesting nesting, const std::function<void()>& body);
    /// Lets the window handle its waiting messages; ends the handler when
    /// a cancel has been asked for.
    void Pump();
    /// Ends the handler (silently) when a cancel has been asked for.
    void CheckCancel() const;
    /// Logs "Rebooting unit", shows "Wait" and waits for the unit to report
    /// the connected revision; false when it did not come back.
    bool AnnounceRebootAndWait();
    /// Sends the entry selected in list, if its file exists; false when the
    /// transfer failed.
    bool UploadImage(TImageList list, const std::string& announcement,
                     const std::string& remoteName, const std::string& doneLine,
                     const std::string& errorLine);

    TWindowOperations& window_;
    std::atomic<bool> cancelled_{false};
    bool busy_ = false;
};
