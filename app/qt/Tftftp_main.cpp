// The main window: builds the controls at their fixed places, runs every
// handler through the loader's guard and every run button through the window
// controller, and takes the window's own events (the log's menu and keys,
// the palette, a close). What it offers the loader and the controller is in
// MainOperations.cpp.
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
#include "app/qt/QtText.h"
#include "net/IdComponent.h"
#include "runtime/Files.h"

namespace {

TRgb Rgb(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
            static_cast<std::uint8_t>(rgb.blue())};
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

    StartController();
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
