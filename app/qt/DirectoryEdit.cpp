// The folder edit and its chooser. The chooser is Qt's own dialog rather than
// the desktop's, so that it offers folders only, a path edit and no button
// for making folders on every platform alike.
#include "app/qt/DirectoryEdit.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <utility>

#include "app/WindowController.h"

namespace {

// Bottom margin kept above the work area's lower edge (a task bar there).
constexpr int BottomClearance = 64;

} // namespace

TAdvDirectoryEdit::TAdvDirectoryEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
    setFocusProxy(edit_);
    edit_->installEventFilter(this);
    button_->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    button_->setFocusPolicy(Qt::TabFocus);
    button_->setFixedWidth(ButtonWidth);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(edit_);
    row->addWidget(button_);
    connect(edit_, &QLineEdit::textChanged, this, &TAdvDirectoryEdit::Change);
    connect(button_, &QToolButton::clicked, this, &TAdvDirectoryEdit::Browse);
}

QString TAdvDirectoryEdit::Text() const {
    return edit_->text();
}

void TAdvDirectoryEdit::SetText(const QString& text) {
    if (text == edit_->text())
        return;
    const bool outer = std::exchange(setting_, true);
    edit_->setText(text);
    setting_ = outer;
}

QPoint TAdvDirectoryEdit::ChooserPosition(QPoint anchor, QSize size, QRect workArea) {
    QPoint at = anchor;
    if (at.x() + size.width() > workArea.x() + workArea.width())
        at.rx() -= size.width();
    if (at.y() + size.height() >= workArea.y() + workArea.height())
        at.setY(workArea.y() + workArea.height() - BottomClearance - size.height());
    return at;
}

void TAdvDirectoryEdit::Browse() {
    const QString current = Text();
    QFileDialog chooser(this, QString::fromLatin1(ChooserTitle),
                        current.isEmpty() ? QDir::currentPath() : current);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly |
                       QFileDialog::DontUseNativeDialog);
    // ReadOnly only disables Qt's new-folder button; this chooser has none.
    // The button is known by its name in Qt's dialog; should that change,
    // the disabled button shows again and does no harm.
    if (auto* newFolder = chooser.findChild<QToolButton*>(QStringLiteral("newFolderButton")))
        newFolder->hide();
    chooser.adjustSize(); // the size it would take on showing, needed to place it
    const QScreen* screen = this->screen();
    chooser.move(ChooserPosition(mapToGlobal(QPoint(0, height())), chooser.size(),
                                 screen->availableGeometry()));
    if (chooser.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = chooser.selectedFiles();
    // The same folder changes nothing, however its end is written.
    if (!chosen.isEmpty() && !SameFolder(chosen.front().toStdString(), Text().toStdString()))
        SetText(chosen.front());
}

bool TAdvDirectoryEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 && key->modifiers() == Qt::NoModifier) {
            Browse();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
