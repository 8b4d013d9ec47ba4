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
    /// The field as the program reads it, its short groups closed
    /// (TMaskRules::Reading): what Connect takes.
    QString Reading() const;
    /// Index of the first unfilled digit position, or -1 when complete.
    int FirstUnfilled() const;
    /// True while the user is in the field with a change that may not be
    /// left yet (a group empty or above 255); a click elsewhere then counts
    /// for nothing.
    bool HoldsInvalidChange() const;

signals:
    /// A refused key or paste; the field beeps.
    void Beeped();
    /// The field refused a digit or a paste that would take a group above
    /// 255, or to be left (by the focus or Enter) with a group empty; the
    /// message names the group (GroupRangeMessage), and the focus is in the
    /// field. Delivered queued, so no box opens inside a key or focus change.
    void ValidationFailed(const QString& message);
    /// Enter in a complete field that may be left.
    void Confirmed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    /// Where the caret and the selection stand.
    struct TCaret {
        int Position, SelectionStart, SelectionLength;
        friend bool operator==(const TCaret&, const TCaret&) = default;
    };

    /// Beeps, and shows the rules' refusal message when they have one.
    void Refuse();
    /// Checks a changed field; true when it may be left.
    bool Validate();
    /// The rules take what the field shows now (Qt's own editing included);
    /// while the field is being shown anew, they hold what it is to show.
    TMaskRules& Rules() const;
    /// Rules() for an edit by the user: a caret that stands elsewhere than
    /// the field last put it was moved by the user.
    TMaskRules& Pull();
    /// The field shows what the rules made of it.
    void Push();
    TCaret Caret() const;
    void PasteText(const QString& text);
    void Cut();

    // Mutable: reading the field brings the rules up to date first.
    mutable TMaskRules rules_;
    /// The caret as Push last left it.
    TCaret shown_{};
    /// Push is under way: the text is set, the caret not yet.
    bool pushing_ = false;
    /// The refusal that ValidationFailed is about to report; empty when none is due.
    QString pendingMessage_;
};
