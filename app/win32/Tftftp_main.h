// The main window `ftftp_main` of class `Tftftp_main` on the Windows GUI: its
// controls, the error box, the message pump and the waits on the thread's
// message queue, and the wiring of the buttons, the folder edit and the log
// to the loader through the window controller. Its layout is Layout.cpp's,
// the log's list LogView's, the close question CloseQuestion's. Everything
// the window does for the loader goes through TWindowOperations, and what a
// run looks like is the controller's (through TRunView); no protocol logic
// and no run state belong here.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/Loader.h"
#include "app/WindowController.h"
#include "app/WindowOperations.h"
#include "app/win32/CloseQuestion.h"
#include "app/win32/DirectoryEdit.h"
#include "app/win32/LogView.h"
#include "app/win32/MaskEdit.h"
#include "app/win32/ToolTips.h"

class TIdAntiFreezeBase;

class Tftftp_main : public TRunWindow {
public:
    static constexpr char Caption[] = "TFTP Upload Utility";

    /// Creates the window with its controls, laid out for its monitor's DPI
    /// and centred on that monitor, not yet shown.
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

    /// The status label's whole text, which the label may show cut short;
    /// its tooltip then holds it.
    const std::string& StatusText() const { return statusText_; }
    const TToolTips& ToolTips() const { return *tips_; }
    /// The window of each control that TWindowControl names.
    const TControlTable<HWND>& Controls() const { return controls_; }

    // TWindowOperations, as documented there, but for those TRunWindow
    // answers. The error box blocks in its own message loop until OK.
    // SetStatus shows a text too long for the strip under the log cut short.
    void LogLine(const std::string& text) override;
    void ClearLog() override;
    void SetStatus(const std::string& text) override;
    void TraceOut(const std::string& text) override;
    void PumpMessages() override;
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
    void SetProgress(std::int64_t done, std::int64_t total) override;

private:
    static constexpr DWORD Style = WS_OVERLAPPEDWINDOW;
    static constexpr DWORD ExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    static constexpr char Label1Text[] = "IP Address:";
    /// The address field refused a key or to be left; the box opens once
    /// that key or focus change is over.
    static constexpr UINT WmValidationFailed = WM_APP + 1;
    /// The close question was answered: wParam is TRUE for Yes.
    static constexpr UINT WmCloseAnswered = WM_APP + 2;
    /// The timer of the folder edit's pause after typing.
    static constexpr UINT_PTR FolderPauseTimer = 1;

    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK GroupProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    /// Places every control for dpi_ in fonts of that DPI: the layout of 96
    /// DPI scaled, each text at least as wide and high as it is drawn, the
    /// controls right of a widened one moved along; sizes the window to fit.
    void Layout();
    void Command(HWND control, WORD code);
    void Close();
    /// Handles one message taken from the queue; false for WM_QUIT.
    bool Dispatch(MSG& msg);
    HWND List(TImageList list) const;
    HWND Button(TRunKind button) const;
    /// Places the status label for its whole text (StatusPlace).
    void PlaceStatus();

    // TRunView, as documented there.
    void ShowRunState() override;
    std::optional<TWindowControl> FocusedControl() override;
    void FocusControl(TWindowControl control) override;
    bool ControlShown(TWindowControl control) override;
    bool AddressHoldsInvalidChange() override;
    std::vector<TLogLine> LogLines() override;
    std::string_view LineEnd() const override { return "\r\n"; }
    void SetClipboardText(const std::string& text) override;
    std::optional<std::string> AskSavePath() override;
    void ShowErrorBox(const std::string& text) override;
    void StartFolderPause(std::chrono::milliseconds delay) override;
    void AskToClose(const std::string& question) override;
    void CloseWindow() override;
    // TRunWindow's wait: on the thread's message queue.
    void WaitForMessages(std::chrono::milliseconds longest) override;

    HWND handle_ = nullptr;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    HWND groupFrame_ = nullptr;
    HFONT font_ = nullptr;
    HFONT statusFont_ = nullptr;
    std::unique_ptr<TLogView> log_;
    std::unique_ptr<TToolTips> tips_;
    TControlTable<HWND> controls_;
    /// Lets the window handle its messages while a transfer waits on its socket.
    std::unique_ptr<TIdAntiFreezeBase> IdAntiFreeze1;
    /// What the address field last refused, for the box it opens; empty
    /// while no box is due.
    std::string ipeditMessage_;
    std::string statusText_;
    TCloseQuestion question_;
    /// The controls exist: their messages are the window's to handle.
    bool built_ = false;
    bool oleInitialized_ = false;
};
