// The main window `ftftp_main` of class `Tftftp_main` on the Windows GUI: its
// controls at their places (the layout of 96 DPI, scaled to the monitor's
// DPI and widened where a text needs it), the error box and the close
// question, the message pump and the waits on the thread's message queue, and
// the wiring of the buttons and the folder edit to the loader through the
// window controller. Everything the window does for the loader goes through
// TWindowOperations, and what a run looks like is the controller's (through
// TRunView); no protocol logic and no run state belong here.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/Loader.h"
#include "app/WindowController.h"
#include "app/WindowOperations.h"
#include "app/win32/DirectoryEdit.h"
#include "app/win32/MaskEdit.h"

class TIdAntiFreezeBase;

class Tftftp_main : public TWindowOperations, private TRunView {
public:
    static constexpr char Caption[] = "TFTP Upload Utility";
    /// The client area at 96 DPI; at another DPI it is scaled.
    static constexpr int ClientWidth = 677;
    static constexpr int ClientHeight = 228;

    /// Creates the window with its controls at the screen's top-left corner,
    /// laid out for its monitor's DPI, not yet shown.
    Tftftp_main();
    ~Tftftp_main() override;
    Tftftp_main(const Tftftp_main&) = delete;
    Tftftp_main& operator=(const Tftftp_main&) = delete;

    void Show();
    /// Runs the message loop until the window is closed; the exit code.
    int Run();

    HWND Handle() const { return handle_; }
    /// The DPI the window is laid out for: its monitor's, as last announced.
    int Dpi() const { return dpi_; }
    // The controls, in creation order; filegroup holds the folder group's.
    HWND statuslab = nullptr;
    HWND Label1 = nullptr;
    HWND ListBox1 = nullptr;
    std::unique_ptr<TMaskEdit> ipedit;
    HWND connectbut = nullptr;
    HWND filegroup = nullptr;
    std::unique_ptr<TAdvDirectoryEdit> diredit;
    HWND file1edit = nullptr;
    HWND file2edit = nullptr;
    HWND uploadbut = nullptr;
    /// Under the log, left of the status label; shown only during a transfer.
    HWND transferbar = nullptr;

    /// The logic behind the buttons and the folder edit.
    TLoader& Loader() { return controller_->Loader(); }
    /// The status label's whole text, which the label may show cut short.
    const std::string& StatusText() const { return statusText_; }

    /// The log's lines, CR LF after each: the selected ones, or all when none is.
    std::string LogText() const;
    /// Writes every line of the log to a text file; false when it cannot.
    bool SaveLog(const std::string& path) const;

    // TWindowOperations, as documented there. ShowError blocks in the box's
    // own message loop until OK; PumpMessagesUntil sleeps on the message
    // queue and returns early once the window is closed during a run.
    // SetStatus shows a text too long for the strip under the log cut short.
    void LogLine(const std::string& text) override;
    void ClearLog() override;
    void SetStatus(const std::string& text) override;
    void TraceOut(const std::string& text) override;
    void PumpMessages() override;
    void PumpMessagesUntil(Clock::time_point deadline) override;
    std::string ReadAddress() override;
    void SetFileGroupVisible(bool visible) override;
    std::string DirEditText() override;
    void SetDirEditText(const std::string& text) override;
    void ListClear(TImageList list) override;
    void ListAppend(TImageList list, const std::string& text) override;
    int ListCount(TImageList list) override;
    int ListItemIndex(TImageList list) override;
    void SetListItemIndex(TImageList list, int index) override;
    std::string ListItem(TImageList list, int index) override;
    std::string ProgramFolder() override;
    void ShowError(const std::string& text) override;
    void SetBusy(bool busy) override;
    void RunEnded(const TRunOutcome& outcome) override;
    void SetProgress(std::int64_t done, std::int64_t total) override;

private:
    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK GroupProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    /// Places every control for dpi_ in fonts of that DPI: the layout of 96
    /// DPI scaled, each text at least as wide and high as it is drawn, the
    /// controls right of a widened one moved along; sizes the window to fit.
    void Layout();
    void Command(HWND control, WORD code);
    void ListBox1ContextMenu(POINT at);
    void CopyLog() const;
    void SaveLogAs();
    void Close();
    /// Handles one message taken from the queue; false for WM_QUIT.
    bool Dispatch(MSG& msg);
    /// Raises a failure that a message handler could not let through the
    /// system's message dispatch.
    void RaiseHeldFailure();
    HWND List(TImageList list) const;
    HWND Button(TRunKind button) const;
    /// Lets the log scroll sideways as far as line reaches.
    void WidenLog(const std::string& line);
    /// Places the status label for its whole text (StatusPlace).
    void PlaceStatus();
    /// Waits for the close question's thread to end, answering its box No
    /// when it is still open.
    void EndQuestion();

    // TRunView, as documented there.
    void ShowRunState() override;
    void AskToClose(const std::string& question) override;
    void CloseWindow() override;

    HWND handle_ = nullptr;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    HWND groupFrame_ = nullptr;
    HFONT font_ = nullptr;
    HFONT statusFont_ = nullptr;
    std::unique_ptr<TWindowController> controller_;
    /// Lets the window handle its messages while a transfer waits on its socket.
    std::unique_ptr<TIdAntiFreezeBase> IdAntiFreeze1;
    HWND focusBeforeRun_ = nullptr;
    /// What the address field last refused, for the box it opens; empty
    /// while no box is due.
    std::string ipeditMessage_;
    std::exception_ptr heldFailure_;
    std::string statusText_;
    /// The close question's box runs on this thread, so that the run goes
    /// on on the window's; its id once it runs, and whether it has answered.
    std::thread question_;
    std::atomic<DWORD> questionThread_{0};
    std::atomic<bool> questionDone_{false};
    bool closing_ = false;
    bool oleInitialized_ = false;
};
