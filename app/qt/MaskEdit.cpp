// The Qt adapter of the masked address field. Every edit the user can make
// (keys, a paste or cut from keys, the context menu or the middle button)
// goes through TMaskRules; Qt keeps navigation, selection and
// the drawing. Before each edit the rules take what the field shows, so an
// edit Qt made by itself (an undo) is theirs to judge too.
#include "app/qt/MaskEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <utility>

namespace {

QString QtInputMask(const QString& pattern) {
    QString mask;
    for (const QChar c : pattern) {
        if (c != QChar::fromLatin1(TMaskRules::DigitPosition))
            mask += u'\\';
        mask += c;
    }
    return mask + u';' + QChar::fromLatin1(TMaskRules::BlankShown);
}

// Leaving for another window or a popup (the error box among them) is not
// leaving the field: the user comes back to it where they were.
bool LeavesField(Qt::FocusReason reason) {
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

bool IsCommand(const QKeyEvent* event) {
    return event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

} // namespace

TMaskEdit::TMaskEdit(const QString& pattern, const QString& text, QWidget* parent)
    : QLineEdit(parent), rules_(pattern.toStdString(), text.toStdString()) {
    setInputMask(QtInputMask(pattern));
    // Digits need no input method, and a drop would bypass the rules.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAcceptDrops(false);
    Push();
}

QString TMaskEdit::MaskedText() const {
    return QString::fromStdString(Rules().Text());
}

QString TMaskEdit::Reading() const {
    return QString::fromStdString(Rules().Reading());
}

int TMaskEdit::FirstUnfilled() const {
    return Rules().FirstUnfilled();
}

bool TMaskEdit::HoldsInvalidChange() const {
    return Rules().HoldsInvalidChange();
}

TMaskEdit::TCaret TMaskEdit::Caret() const {
    return {cursorPosition(), selectionStart(), selectionLength()};
}

TMaskRules& TMaskEdit::Rules() const {
    // The window reads the address as the text changes, inside Push.
    if (!pushing_)
        rules_.Assign(displayText().toStdString(), cursorPosition(), selectionStart(),
                      selectionLength(), isModified());
    return rules_;
}

TMaskRules& TMaskEdit::Pull() {
    Rules();
    if (std::exchange(shown_, Caret()) != Caret())
        rules_.CaretMoved();
    return rules_;
}

void TMaskEdit::Push() {
    pushing_ = true;
    setText(QString::fromStdString(rules_.Shown()));
    setModified(rules_.Modified());
    if (rules_.SelectionLength() > 0)
        setSelection(rules_.SelectionStart(), rules_.SelectionLength());
    else
        setCursorPosition(rules_.Caret());
    pushing_ = false;
    shown_ = Caret();
}

void TMaskEdit::Refuse() {
    QApplication::beep();
    emit Beeped();
    const QString message = QString::fromStdString(rules_.RefusalMessage());
    // One report for refusals that come quicker than it is delivered.
    if (!message.isEmpty() && std::exchange(pendingMessage_, message).isEmpty())
        QMetaObject::invokeMethod(
            this, [this] { emit ValidationFailed(std::exchange(pendingMessage_, {})); },
            Qt::QueuedConnection);
}

bool TMaskEdit::Validate() {
    if (Pull().Validate()) {
        if (QString::fromStdString(rules_.Shown()) != displayText())
            Push(); // its short groups closed
        return true;
    }
    Push(); // the caret on the group at fault
    setFocus(Qt::OtherFocusReason);
    Refuse();
    return false;
}

void TMaskEdit::PasteText(const QString& text) {
    if (isReadOnly())
        return;
    if (!Pull().Paste(text.toStdString()))
        Refuse();
    Push();
}

void TMaskEdit::Cut() {
    if (isReadOnly() || !hasSelectedText())
        return;
    copy();
    Pull().Delete();
    Push();
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        PasteText(QGuiApplication::clipboard()->text());
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        Cut();
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        if (Pull().Escape()) {
            Push();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (Validate() && rules_.FirstUnfilled() < 0)
            emit Confirmed();
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (!IsCommand(event)) {
            if (event->key() == Qt::Key_Backspace)
                Pull().Backspace();
            else
                Pull().Delete();
            Push();
            event->accept();
            return;
        }
        break;
    default: {
        const QString typed = event->text();
        if (!IsCommand(event) && typed.size() == 1 && typed[0].isPrint()) {
            const QChar c = typed[0];
            TMaskRules& rules = Pull();
            const bool typed = c.unicode() <= 0x7f && rules.Type(c.toLatin1());
            Push();
            if (!typed)
                Refuse();
            event->accept();
            return;
        }
        break;
    }
    }
    QLineEdit::keyPressEvent(event);
}

void TMaskEdit::mousePressEvent(QMouseEvent* event) {
    // Whether the user moved the caret before this click, which moves it too.
    Pull();
    QLineEdit::mousePressEvent(event);
}

void TMaskEdit::mouseReleaseEvent(QMouseEvent* event) {
    // X11's middle-button paste of the selected text elsewhere.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        setCursorPosition(cursorPositionAt(event->position().toPoint()));
        PasteText(clipboard->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && Rules().Click())
        Push();
}

void TMaskEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The field's own menu rather than Qt's: each edit in it goes through the
    // rules, and Undo, which would step back past them, is not offered.
    const auto withKey = [](const QString& text, QKeySequence::StandardKey key) {
        return text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
    };
    const bool editable = !isReadOnly();
    QMenu menu(this);
    menu.addAction(withKey(QStringLiteral("Cu&t"), QKeySequence::Cut), this, &TMaskEdit::Cut)
        ->setEnabled(editable && hasSelectedText());
    menu.addAction(withKey(QStringLiteral("&Copy"), QKeySequence::Copy), this, &QLineEdit::copy)
        ->setEnabled(hasSelectedText());
    menu.addAction(withKey(QStringLiteral("&Paste"), QKeySequence::Paste), this,
                   [this] { PasteText(QGuiApplication::clipboard()->text()); })
        ->setEnabled(editable && !QGuiApplication::clipboard()->text().isEmpty());
    menu.addAction(QStringLiteral("Delete"), this,
                   [this] {
                       Pull().Delete();
                       Push();
                   })
        ->setEnabled(editable && hasSelectedText());
    menu.addSeparator();
    menu.addAction(withKey(QStringLiteral("Select All"), QKeySequence::SelectAll), this,
                   &QLineEdit::selectAll);
    menu.exec(event->globalPos());
}

void TMaskEdit::focusInEvent(QFocusEvent* event) {
    // Whatever the reason Qt gives: a click into a window that was not
    // active comes as its activation, and Tab puts Qt's caret at the end.
    QLineEdit::focusInEvent(event);
    Rules().Enter();
    Push();
}

void TMaskEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!LeavesField(event->reason()))
        return;
    if (!Validate())
        return; // the focus is back here; the user has not left
    rules_.Leave();
}
