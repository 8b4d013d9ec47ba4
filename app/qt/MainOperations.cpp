// The main window's side of the loader and the window controller: the run
// state drawn on the controls, the close question, and the window operations
// (log, status, progress, lists, folder edit, boxes, the waits that keep the
// window responsive while a run goes on).
#include "app/qt/Tftftp_main.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/qt/DirectoryEdit.h"
#include "app/qt/MaskEdit.h"
#include "app/qt/QtText.h"
#include "runtime/Files.h"

namespace {

// Room for a caption in a title bar: the text in a bold font a little larger
// than the application's, and three title-bar buttons beside it.
int CaptionRoom(const QString& caption) {
    QFont title = QApplication::font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.25);
    constexpr int Buttons = 3 * 32;
    return QFontMetrics(title).horizontalAdvance(caption) + Buttons;
}

} // namespace

// --- Run state ----------------------------------------------------------------

QPushButton* Tftftp_main::Button(TRunKind button) const {
    return button == TRunKind::rkConnect ? connectbut : uploadbut;
}

void Tftftp_main::ShowRunState() {
    for (const TRunKind kind : {TRunKind::rkConnect, TRunKind::rkUpload}) {
        const std::string_view caption = controller_->ButtonCaption(kind);
        Button(kind)->setText(
            QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
    }
    for (const TWindowControl control : WindowControls)
        controls_[control]->setEnabled(controller_->ControlEnabled(control));
    escape_->setEnabled(controller_->Running());
    ShowStatusColour();
}

std::optional<TWindowControl> Tftftp_main::FocusedControl() {
    return controls_.Find(QApplication::focusWidget());
}

void Tftftp_main::FocusControl(TWindowControl control) {
    controls_[control]->setFocus(Qt::OtherFocusReason);
}

bool Tftftp_main::ControlShown(TWindowControl control) {
    return controls_[control]->isVisibleTo(this);
}

bool Tftftp_main::AddressHoldsInvalidChange() {
    return ipedit->HoldsInvalidChange();
}

void Tftftp_main::AskToClose(const std::string& question) {
    // Opened, not run: the update goes on in the run's own pumps while the
    // user reads the question.
    auto* box = new QMessageBox(QMessageBox::Question, QString::fromLatin1(ApplicationTitleText),
                                ToQt(question), QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("closebox"));
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    FitCaption(*box);
    connect(box, &QMessageBox::finished, this, [this, box] {
        controller_->CloseAnswered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    closeBox_ = box;
    box->open();
}

QMessageBox* Tftftp_main::CloseBox() const {
    return closeBox_;
}

void Tftftp_main::CloseWindow() {
    close();
}

// --- Window operations ------------------------------------------------------

void Tftftp_main::LogLine(const std::string& text) {
    ListBox1->addItem(ToQt(text));
    ListBox1->scrollToBottom();
}

void Tftftp_main::ClearLog() {
    ListBox1->clear();
}

void Tftftp_main::SetStatus(const std::string& text) {
    statusText_ = ToQt(text);
    statuslab->setAccessibleDescription(statusText_); // its name says what it is
    PlaceStatus();
}

void Tftftp_main::PlaceStatus() {
    constexpr int Home = TWindowLayout::Status.Left;
    statuslab->setText(statusText_);
    const TStatusPlace place = StatusPlace(
        std::max(TWindowLayout::Status.Width, statuslab->sizeHint().width()), Home,
        transferbar->isVisible() ? Home : transferbar->x(), ListBox1->geometry().right() + 1);
    if (place.Elided)
        statuslab->setText(
            statuslab->fontMetrics().elidedText(statusText_, Qt::ElideRight, place.Width));
    statuslab->setToolTip(place.Elided ? statusText_ : QString());
    statuslab->setGeometry(place.Left, statuslab->y(), place.Width, statuslab->height());
}

void Tftftp_main::SetProgress(std::int64_t done, std::int64_t total) {
    const bool shown = transferbar->isVisible();
    transferbar->setVisible(total > 0);
    if (total > 0)
        transferbar->setValue(ProgressPercent(done, total));
    // The status reaches left over the strip only while the bar is away.
    if (transferbar->isVisible() != shown)
        PlaceStatus();
}

void Tftftp_main::TraceOut(const std::string& text) {
    // The trace is for a technician at a terminal; stderr is the channel that
    // goes nowhere visible unless someone is looking.
    std::fprintf(stderr, "%s\n", text.c_str());
}

void Tftftp_main::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    controller_->RaiseHeldFailure();
}

void Tftftp_main::WaitForMessages(std::chrono::milliseconds longest) {
    QEventLoop loop;
    QTimer::singleShot(longest, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    QEventLoop* outer = wait_;
    wait_ = &loop;
    loop.exec();
    wait_ = outer;
}

std::string Tftftp_main::ReadAddress() {
    return FromQt(ipedit->Reading());
}

void Tftftp_main::SetFileGroupVisible(bool visible) {
    filegroup->setVisible(visible);
}

std::string Tftftp_main::DirEditText() {
    return FromQt(diredit->Text());
}

void Tftftp_main::SetDirEditText(const std::string& text) {
    diredit->SetText(ToQt(text)); // its change scans
    controller_->RaiseHeldFailure();
}

QComboBox* Tftftp_main::List(TImageList list) const {
    return list == TImageList::ilWebPages ? file1edit : file2edit;
}

void Tftftp_main::ListClear(TImageList list) {
    List(list)->clear();
    List(list)->clearEditText();
}

void Tftftp_main::ListAppend(TImageList list, const std::string& text) {
    List(list)->addItem(ToQt(text));
    // Appending to an empty list must not select: selecting is the scan's step.
    if (List(list)->count() == 1)
        List(list)->setCurrentIndex(-1);
}

int Tftftp_main::ListCount(TImageList list) {
    return List(list)->count();
}

int Tftftp_main::ListItemIndex(TImageList list) {
    return List(list)->currentIndex();
}

void Tftftp_main::SetListItemIndex(TImageList list, int index) {
    List(list)->setCurrentIndex(index);
}

std::string Tftftp_main::ListItem(TImageList list, int index) {
    return FromQt(List(list)->itemText(index));
}

std::string Tftftp_main::ProgramFolder() {
    return ::ProgramFolder();
}

void Tftftp_main::FitCaption(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText); // a message is never markup
    // Qt sizes the box for its caption in the box's own small font; the title
    // bar draws it larger and beside its buttons, and would cut it short.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(CaptionRoom(box.windowTitle()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

void Tftftp_main::StartFolderPause(std::chrono::milliseconds delay) {
    folderPause_->start(delay);
}

void Tftftp_main::ShowErrorBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(ApplicationTitleText), ToQt(text),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("errorbox"));
    FitCaption(box);
    QMessageBox* outer = errorBox_;
    errorBox_ = &box;
    box.exec();
    errorBox_ = outer;
}
