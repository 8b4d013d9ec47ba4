// The masked edit `TMaskEdit` that holds the unit's address: a Qt line edit
// over the toolkit-free TMaskRules, which decide what every key, paste,
// Escape and the validation on leaving do. Qt's own input mask stays for its
// look (the block caret, "_" for an unfilled position). What the address is
// used for is the loader's business, and how a failure is shown is the
// window's.
#pragma once

#include <QLineEdit>
#include <QString>

#include "app/MaskRules.h"

class TMaskEdit : public QLineEdit {
    Q_OBJECT

public:
    /// pattern: "0" for a digit position, any other character a fixed literal
    /// (e.g. "000.000.000.000"). The field starts with text.
    TMaskEdit(const QString& pattern, const QString& text, QWidget* parent = nullptr);

    /// All positions with the literals in place and unfilled ones as blanks.
    QString MaskedText() const;
    /// Index of the first unfilled digit position, or -1 when complete.
    int FirstUnfilled() const;
    /// True while the user is in the field with a change that may not be
    /// left yet (a digit position unfilled); a click elsewhere then counts
    /// for nothing.
    bool HoldsInvalidChange() const;

    static constexpr const char* InvalidInputMessage = TMaskRules::InvalidInputMessage;

signals:
    /// A refused key; the field beeps.
    void Beeped();
    /// The user left a changed field or pressed Enter while a digit position
    /// was unfilled; the focus is already back at the first unfilled position.
    /// Delivered queued, so no box opens inside a focus change.
    void ValidationFailed(const QString& message);
    /// Enter in a complete field that may be left.
    void Confirmed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Beep();
    /// Checks a changed field; true when it may be left.
    bool Validate();
    /// The rules take what the field shows now (Qt's own editing included)...
    TMaskRules& Pull() const;
    /// ...and the field shows what they made of it.
    void Push();
    void PasteText(const QString& text);
    void Cut();

    // Mutable: reading the field brings the rules up to date first.
    mutable TMaskRules rules_;
};
