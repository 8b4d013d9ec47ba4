// Editing rules of the masked address field. Qt's input mask keeps the
// literals fixed and overtypes digits; the key handling here adds what the
// mask alone does not: the literal key jumping to the next group, the beep on
// a refused key, Escape, and validation on leaving.
#include "app/qt/MaskEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

namespace {

constexpr QChar BlankShown = u'_';
constexpr QChar DigitPosition = u'0';

QString QtInputMask(const QString& pattern) {
    QString mask;
    for (const QChar c : pattern) {
        if (c != DigitPosition)
            mask += u'\\';
        mask += c;
    }
    return mask + u';' + BlankShown;
}

// Leaving for another window or a popup (the error box among them) is not
// leaving the field: the user comes back to it where they were.
bool LeavesField(Qt::FocusReason reason) {
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

} // namespace

TMaskEdit::TMaskEdit(const QString& pattern, const QString& text, QWidget* parent)
    : QLineEdit(parent), pattern_(pattern) {
    setInputMask(QtInputMask(pattern));
    setText(text);
}

QString TMaskEdit::MaskedText() const {
    QString shown = displayText();
    shown.resize(pattern_.size(), BlankShown);
    shown.replace(BlankShown, u' ');
    return shown;
}

int TMaskEdit::FirstUnfilled() const {
    const QString shown = MaskedText();
    for (int i = 0; i < shown.size(); ++i) {
        if (!IsLiteral(i) && shown[i] == u' ')
            return i;
    }
    return -1;
}

bool TMaskEdit::IsLiteral(int position) const {
    return position >= 0 && position < pattern_.size() && pattern_[position] != DigitPosition;
}

void TMaskEdit::Beep() {
    QApplication::beep();
    emit Beeped();
}

bool TMaskEdit::Validate() {
    const int unfilled = FirstUnfilled();
    if (unfilled < 0)
        return true;
    Beep();
    setFocus(Qt::OtherFocusReason);
    setCursorPosition(unfilled);
    QMetaObject::invokeMethod(
        this, [this] { emit ValidationFailed(QString::fromLatin1(InvalidInputMessage)); },
        Qt::QueuedConnection);
    return false;
}

void TMaskEdit::TypeLiteral(QChar literal) {
    if (hasSelectedText())
        del(); // the mask turns the selection into unfilled positions
    const int from = cursorPosition();
    // After a full group the caret already stands past the literal; the
    // literal the user types there is the one just passed, not the next.
    if (IsLiteral(from - 1) && pattern_[from - 1] == literal)
        return;
    int to = from;
    while (to < pattern_.size() && !(IsLiteral(to) && pattern_[to] == literal))
        ++to;
    if (to >= pattern_.size()) {
        Beep(); // no further group to jump to
        return;
    }
    if (to > from) {
        // The digits skipped over are left unfilled, so "10." reads "10 ." even
        // where the group held three digits before.
        setSelection(from, to - from);
        del();
    }
    setCursorPosition(to + 1);
    setModified(true);
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        if (isModified()) {
            setText(entryText_);
            setModified(false);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (isModified())
            Validate();
        break;
    default: {
        const QString typed = event->text();
        const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
        if (!command && typed.size() == 1 && typed[0].isPrint()) {
            const QChar c = typed[0];
            if (pattern_.contains(c) && c != DigitPosition && !c.isDigit()) {
                TypeLiteral(c);
                event->accept();
                return;
            }
            if (!c.isDigit() || c.unicode() > 0x7f) {
                Beep();
                event->accept();
                return;
            }
        }
        break;
    }
    }
    QLineEdit::keyPressEvent(event);
}

void TMaskEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (!entered_) {
        entered_ = true;
        entryText_ = displayText();
        setModified(false);
    }
}

void TMaskEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!LeavesField(event->reason()))
        return;
    if (isModified() && !Validate())
        return; // the focus is back here; the user has not left
    entered_ = false;
}
