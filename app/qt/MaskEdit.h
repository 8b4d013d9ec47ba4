// The masked edit `TMaskEdit` that holds the unit's address: fixed literal
// characters between digit positions, unfilled positions shown as "_", and the
// validation a technician meets when leaving a half-typed address. Only the
// field's own editing behaviour belongs here; what the address is used for is
// the loader's business, and how a failure is shown is the window's.
#pragma once

#include <QLineEdit>
#include <QString>

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
    bool HoldsInvalidChange() const { return entered_ && isModified() && FirstUnfilled() >= 0; }

    static constexpr char InvalidInputMessage[] =
        "Invalid input value.  Use escape key to abandon changes";

signals:
    /// A refused key; the field beeps.
    void Beeped();
    /// The user left a changed field or pressed Enter while a digit position
    /// was unfilled; the focus is already back at the first unfilled position.
    /// Delivered queued, so no box opens inside a focus change.
    void ValidationFailed(const QString& message);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Beep();
    /// Checks a changed field; true when it may be left.
    bool Validate();
    void TypeLiteral(QChar literal);
    bool IsLiteral(int position) const;

    QString pattern_;
    QString entryText_; // what the field held when the user entered it
    bool entered_ = false;
};
