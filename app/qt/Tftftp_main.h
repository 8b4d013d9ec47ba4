// The main window `ftftp_main` of class `Tftftp_main`: its controls at their
// fixed places, the error box and the close question, the message pump, and
// the wiring of the buttons and the folder edit to the loader through the
// window controller. Everything the window does for the loader goes through
// TWindowOperations, and what a run looks like is the controller's (through
// TRunView); no protocol logic and no run state belong here.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Loader.h"
#include "app/WindowController.h"
#include "app/WindowLayout.h"
#include "app/WindowOperations.h"

class QComboBox;
class QEventLoop;
class QGroupBox;
class QLabel;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QShortcut;
class QTimer;
class TAdvDirectoryEdit;
class TIdAntiFreezeBase;
class TMaskEdit;

class Tftftp_main : public QWidget, public TRunWindow {
    Q_OBJECT

public:
    static constexpr char Caption[] = "TFTP Upload Utility";

    explicit Tftftp_main(QWidget* parent = nullptr);
    ~Tftftp_main() override;

    // The controls, in creation order.
    QLabel* const statuslab;
    QLabel* const Label1;
    QListWidget* const ListBox1;
    TMaskEdit* const ipedit;
    QPushButton* const connectbut;
    QGroupBox* const filegroup;
    TAdvDirectoryEdit* const diredit;
    QComboBox* const file1edit;
    QComboBox* const file2edit;
    QPushButton* const uploadbut;
    /// Under the log, left of the status label; shown only during a transfer.
    QProgressBar* const transferbar;

    /// The error box while it is open, else null; lets the box be read and
    /// dismissed without a click.
    QMessageBox* ErrorBox() const { return errorBox_; }
    /// The question a close during a run asks while it is open, else null.
    QMessageBox* CloseBox() const;
    /// The status label's whole text, which the label may show cut short.
    const QString& StatusText() const { return statusText_; }
    /// The widget of each control that TWindowControl names.
    const TControlTable<QWidget*>& Controls() const { return controls_; }

    // TWindowOperations, as documented there, but for those TRunWindow
    // answers. The error box blocks in its own message loop until OK.
    // SetStatus shows a text too long for the strip under the log cut short,
    // the whole text in the label's tooltip.
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

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectbutClick();
    void uploadbutClick();
    void direditChange();
    void ipeditValidationFailed(const QString& message);
    void ListBox1ContextMenu(const QPoint& at);
    QComboBox* List(TImageList list) const;
    QPushButton* Button(TRunKind button) const;
    /// Sets up a box of the window: plain text, wide enough for its caption.
    static void FitCaption(QMessageBox& box);
    /// The status label in the colour of its tone that reads on the
    /// window's palette.
    void ShowStatusColour();
    /// Places the status label for its whole text (StatusPlace).
    void PlaceStatus();

    // TRunView, as documented there.
    void ShowRunState() override;
    std::optional<TWindowControl> FocusedControl() override;
    void FocusControl(TWindowControl control) override;
    bool ControlShown(TWindowControl control) override;
    bool AddressHoldsInvalidChange() override;
    std::vector<TLogLine> LogLines() override;
    std::string_view LineEnd() const override { return "\n"; }
    void SetClipboardText(const std::string& text) override;
    std::optional<std::string> AskSavePath() override;
    void ShowErrorBox(const std::string& text) override;
    void StartFolderPause(std::chrono::milliseconds delay) override;
    void AskToClose(const std::string& question) override;
    void CloseWindow() override;
    // TRunWindow's wait: an event loop of its own, ended by a close (wait_).
    void WaitForMessages(std::chrono::milliseconds longest) override;

    TControlTable<QWidget*> controls_;
    /// Escape cancels the run under way; on only while one goes on, when the
    /// address field, which takes Escape itself, is disabled.
    QShortcut* escape_ = nullptr;
    /// Typing in the folder edit pauses: TWindowController::FolderPaused.
    QTimer* folderPause_ = nullptr;
    QPointer<QMessageBox> closeBox_;
    QString statusText_;
    /// Lets the window handle its messages while a transfer waits on its socket.
    std::unique_ptr<TIdAntiFreezeBase> IdAntiFreeze1;
    QMessageBox* errorBox_ = nullptr;
    QEventLoop* wait_ = nullptr; // the running WaitForMessages, if any
};
