// The main window: builds the controls at their fixed places, offers the
// window operations to the loader, runs every handler through the loader's
// guard and every run button through the window controller, and draws what
// the controller says of the run. Texts cross between the loader and Qt as
// 8-bit text in the system's encoding, byte for byte where file names are
// concerned.
#include "app/qt/Tftftp_main.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "app/WindowAntiFreeze.h"
#include "app/qt/DirectoryEdit.h"
#include "app/qt/MaskEdit.h"
#include "net/IdComponent.h"
#include "runtime/Files.h"

namespace {

QString ToQt(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

TRgb Rgb(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
            static_cast<std::uint8_t>(rgb.blue())};
}

// Room for a caption in a title bar: the text in a bold font a little larger
// than the application's, and three title-bar buttons beside it.
int CaptionRoom(const QString& caption) {
    QFont title = QApplication::font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.25);
    constexpr int Buttons = 3 * 32;
    return QFontMetrics(title).horizontalAdvance(caption) + Buttons;
}

// "Tahoma" where it is installed; fontconfig substitutes the system's sans
// font where it is not, and the style hint keeps that substitute a sans one.
QFont TahomaFont(int points) {
    QFont font(QStringLiteral("Tahoma"), points);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// The log's lines are 13 pixels high whatever the font's own line spacing,
// so the log shows as many lines with a substitute for Tahoma as with it.
class TFixedLineHeight : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), TWindowLayout::LogLineHeight};
    }
};

QRect Rect(const TLayoutRect& place) {
    return {place.Left, place.Top, place.Width, place.Height};
}

} // namespace

Tftftp_main::Tftftp_main(QWidget* parent)
    : QWidget(parent), statuslab(new QLabel(this)), Label1(new QLabel(this)),
      ListBox1(new QListWidget(this)),
      ipedit(new TMaskEdit(QString::fromLatin1(AddressPattern), QString::fromLatin1(DefaultAddress),
                           this)),
      connectbut(new QPushButton(this)), filegroup(new QGroupBox(this)),
      diredit(new TAdvDirectoryEdit(filegroup)), file1edit(new QComboBox(filegroup)),
      file2edit(new QComboBox(filegroup)), uploadbut(new QPushButton(filegroup)),
      transferbar(new QProgressBar(this)) {
    setObjectName(QStringLiteral("ftftp_main"));
    setWindowTitle(QString::fromLatin1(Caption));
    setFont(TahomaFont(8));
    resize(TWindowLayout::ClientWidth, TWindowLayout::ClientHeight);
    // Centred on its screen's work area; the frame is the window manager's,
    // and not known before the window is shown.
    move(screen()->availableGeometry().center() - rect().center());

    statuslab->setObjectName(QStringLiteral("statuslab"));
    statuslab->setFont(TahomaFont(10));
    statuslab->setGeometry(Rect(TWindowLayout::Status));

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setText(QStringLiteral("IP Address:"));
    // At least its designed width, wider when a substitute font needs it to
    // show the whole text.
    QRect label = Rect(TWindowLayout::AddressLabel);
    label.setWidth(std::max(label.width(), Label1->sizeHint().width()));
    Label1->setGeometry(label);

    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(Rect(TWindowLayout::Log));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TFixedLineHeight(ListBox1));
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);

    ipedit->setObjectName(QStringLiteral("ipedit"));
    ipedit->setGeometry(Rect(TWindowLayout::Address));

    connectbut->setObjectName(QStringLiteral("connectbut"));
    connectbut->setText(QStringLiteral("Connect"));
    connectbut->setGeometry(Rect(TWindowLayout::Connect));

    filegroup->setObjectName(QStringLiteral("filegroup"));
    filegroup->setTitle(QStringLiteral("Select Files"));
    filegroup->setGeometry(Rect(TWindowLayout::FileGroup));
    filegroup->setVisible(false);

    diredit->setObjectName(QStringLiteral("diredit"));
    diredit->setGeometry(Rect(TWindowLayout::Folder));
    file1edit->setObjectName(QStringLiteral("file1edit"));
    file2edit->setObjectName(QStringLiteral("file2edit"));
    // Plain drop-down lists: what they show is always an entry that Upload
    // sends. A folder may offer thousands of images; the open list shows
    // TWindowLayout::DropDownRows of them and a scroll bar for the rest, in
    // every style: Fusion's own popup would be as tall as the screen, and
    // the list Qt opens instead turns its scroll bar off, leaving only the
    // arrows that scroll while the mouse rests on them.
    for (QComboBox* list : {file1edit, file2edit}) {
        list->setEditable(false);
        list->setMaxVisibleItems(TWindowLayout::DropDownRows);
        list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
        list->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    file1edit->setGeometry(Rect(TWindowLayout::WebPages));
    file2edit->setGeometry(Rect(TWindowLayout::Programs));
    uploadbut->setObjectName(QStringLiteral("uploadbut"));
    uploadbut->setText(QStringLiteral("Upload"));
    uploadbut->setGeometry(Rect(TWindowLayout::Upload));
    // Enter presses a focused button, as Space does.
    for (QPushButton* button : {connectbut, uploadbut})
        button->setAutoDefault(true);

    transferbar->setObjectName(QStringLiteral("transferbar"));
    transferbar->setGeometry(Rect(TWindowLayout::TransferBar));
    transferbar->setRange(0, 100);
    transferbar->setTextVisible(false);
    transferbar->setVisible(false);

    setWindowIcon(QIcon(QStringLiteral(":/tftp-loader.svg")));

    controls_ = {{ListBox1, ipedit, connectbut, diredit->Edit(), diredit->BrowseButton(), file1edit,
                  file2edit, uploadbut}};
    // Screen readers would name the lists by the group's caption, and the
    // edits by nothing at all.
    for (const TWindowControl control : WindowControls)
        if (const std::string_view name = AccessibleName(control); !name.empty())
            controls_[control]->setAccessibleName(
                QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    statuslab->setAccessibleName(QString::fromLatin1(StatusName));
    diredit->BrowseButton()->setToolTip(QString::fromLatin1(FolderButtonTip));
    setTabOrder(ListBox1, ipedit);
    setTabOrder(ipedit, connectbut);
    setTabOrder(connectbut, diredit);
    setTabOrder(diredit->Edit(), diredit->BrowseButton());
    setTabOrder(diredit->BrowseButton(), file1edit);
    setTabOrder(file1edit, file2edit);
    setTabOrder(file2edit, uploadbut);

    TRunView& view = *this;
    controller_ = std::make_unique<TWindowController>(*this, view);
    ShowStatusColour();
    // A transfer waits up to 4 s for each reply without a notification; the
    // window must repaint and take a close meanwhile. One hook per process.
    if (TIdAntiFreezeBase::CurrentAntiFreeze == nullptr)
        IdAntiFreeze1 = std::make_unique<TWindowAntiFreeze>(*this, Loader());
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, [this] { controller_->Escape(); });

    connect(connectbut, &QPushButton::clicked, this, &Tftftp_main::connectbutClick);
    connect(uploadbut, &QPushButton::clicked, this, &Tftftp_main::uploadbutClick);
    connect(diredit, &TAdvDirectoryEdit::Change, this, &Tftftp_main::direditChange);
    connect(diredit->Edit(), &QLineEdit::returnPressed, this,
            [this] { controller_->FolderConfirmed(); });
    folderPause_ = new QTimer(this);
    folderPause_->setSingleShot(true);
    connect(folderPause_, &QTimer::timeout, this, [this] { controller_->FolderPaused(); });
    connect(ipedit, &TMaskEdit::ValidationFailed, this, &Tftftp_main::ipeditValidationFailed);
    // Enter in a complete address field connects.
    connect(ipedit, &TMaskEdit::Confirmed, connectbut, &QPushButton::click);
    connect(ipedit, &QLineEdit::textChanged, this, [this] { controller_->AddressChanged(); });
    ListBox1->installEventFilter(this);
    connect(ListBox1, &QListWidget::customContextMenuRequested, this,
            &Tftftp_main::ListBox1ContextMenu);
}

Tftftp_main::~Tftftp_main() = default;

// --- Handlers ---------------------------------------------------------------

void Tftftp_main::connectbutClick() {
    controller_->Press(TRunKind::rkConnect);
}

void Tftftp_main::uploadbutClick() {
    controller_->Press(TRunKind::rkUpload);
}

void Tftftp_main::direditChange() {
    // Holds what a scan lets through: Qt is built without exceptions, and
    // the signal's later receivers would be skipped.
    controller_->FolderChanged(diredit->Setting() ? TFolderChange::fcSet : TFolderChange::fcEdited);
}

void Tftftp_main::ipeditValidationFailed(const QString& message) {
    ShowError(ErrorBoxText(FromQt(message)));
}

void Tftftp_main::ListBox1ContextMenu(const QPoint& at) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Copy"), this, [this] { controller_->CopyLog(); });
    menu.addAction(QStringLiteral("Save As..."), this, [this] { controller_->SaveLogAs(); });
    menu.exec(ListBox1->viewport()->mapToGlobal(at));
}

std::vector<TLogLine> Tftftp_main::LogLines() {
    std::vector<TLogLine> lines;
    for (int i = 0; i < ListBox1->count(); ++i)
        lines.push_back({FromQt(ListBox1->item(i)->text()), ListBox1->item(i)->isSelected()});
    return lines;
}

void Tftftp_main::SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(ToQt(text));
}

std::optional<std::string> Tftftp_main::AskSavePath() {
    QFileDialog dialog(this, QStringLiteral("Save As"), QString(),
                       QStringLiteral("Text files (*.txt);;All files (*)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name typed without an extension is a text file, as on Windows.
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FromQt(dialog.selectedFiles().front());
}

bool Tftftp_main::eventFilter(QObject* watched, QEvent* event) {
    // The log's Copy key copies what its menu's Copy does, the selected
    // lines, not only the current one.
    if (watched == ListBox1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        controller_->CopyLog();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Tftftp_main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && controller_)
        ShowStatusColour();
}

void Tftftp_main::ShowStatusColour() {
    const TRgb colour =
        StatusColour(controller_->StatusTone(), Rgb(palette().color(QPalette::Window)),
                     Rgb(palette().color(QPalette::Link)));
    QPalette label = statuslab->palette();
    label.setColor(QPalette::WindowText, QColor(colour.Red, colour.Green, colour.Blue));
    statuslab->setPalette(label);
}

void Tftftp_main::closeEvent(QCloseEvent* event) {
    switch (controller_->CloseRequested()) {
    case TCloseAction::caKeepOpen:
        event->ignore();
        return;
    case TCloseAction::caCloseAfterRun:
        // The running Connect or Upload ends at its next pump; the window is
        // destroyed only after it has unwound, once the message loop returns.
        if (wait_ != nullptr)
            wait_->quit();
        break;
    case TCloseAction::caCloseNow:
        break;
    }
    QWidget::closeEvent(event);
}

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

void Tftftp_main::PumpMessagesUntil(Clock::time_point deadline) {
    // Sleeps in the event loop rather than spinning; a close ends the wait early,
    // since the loader then only unwinds.
    while (!controller_->Closing()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        QEventLoop loop;
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(left), Qt::PreciseTimer,
                           &loop, &QEventLoop::quit);
        QEventLoop* outer = wait_;
        wait_ = &loop;
        loop.exec();
        wait_ = outer;
    }
    PumpMessages();
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

void Tftftp_main::ShowError(const std::string& text) {
    controller_->ShowError(text);
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

void Tftftp_main::SetBusy(bool busy) {
    if (!busy)
        SetProgress(0, 0);
    controller_->SetBusy(busy);
}

void Tftftp_main::ScanStopped(const std::string& name, const std::string& reason) {
    controller_->ScanStopped(name, reason);
}

void Tftftp_main::RunEnded(const TRunOutcome& outcome) {
    controller_->RunEnded(outcome);
}
