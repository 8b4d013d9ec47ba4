// The editing rules of a masked field, such as the unit's address, without any
// toolkit: the field's text with its fixed literals, the caret and the
// selection, and what each key, a paste, Escape and the validation on leaving
// do to them. Every window's masked edit (Qt's, the native Windows one) is a
// thin adapter that feeds it the user's keys and shows its state, so the
// address behaves alike in each. How a beep sounds or the error box opens is
// the window's; no toolkit type belongs here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The address field's pattern: "0" a digit position, anything else a fixed
/// literal.
inline constexpr const char* AddressPattern = "000.000.000.000";
/// The address field's text at start.
inline constexpr const char* DefaultAddress = "192.168.100.100";

/// An address of four groups of 1 to 3 digits, each 0 to 255, as the masked
/// field reads after it was typed in whole: each group padded with leading
/// zeros to three digits ("127.0.0.2" gives "127.000.000.002"). No value for
/// any other text.
std::optional<std::string> MaskedAddressText(const std::string& address);

class TMaskRules {
public:
    static constexpr char DigitPosition = '0';
    /// How an unfilled digit position is shown; Text() reads it as a blank.
    static constexpr char BlankShown = '_';
    static constexpr const char* InvalidInputMessage =
        "Invalid input value.  Use escape key to abandon changes";

    /// pattern: DigitPosition for a digit, any other character a literal.
    /// The field starts with text, placed as SetText places it.
    TMaskRules(std::string pattern, std::string_view text);

    const std::string& Pattern() const { return pattern_; }
    /// Every position, literals in place, unfilled digit positions as blanks.
    const std::string& Text() const { return text_; }
    /// As Text(), with unfilled digit positions as BlankShown.
    std::string Shown() const;
    int Caret() const { return caret_; }
    /// The selection: its first position and its length (0: none).
    int SelectionStart() const { return selStart_; }
    int SelectionLength() const { return selLength_; }
    /// True once the user changed the field since entering it.
    bool Modified() const { return modified_; }
    /// The first unfilled digit position, or -1 when the field is complete.
    int FirstUnfilled() const;
    /// True while the user is in the field with a change that may not be
    /// left yet; a click elsewhere then counts for nothing.
    bool HoldsInvalidChange() const { return entered_ && modified_ && FirstUnfilled() >= 0; }

    /// Places text as the program sets a field: from the first position on,
    /// as a paste into an empty field; not a change by the user. The caret
    /// goes to the end.
    void SetText(std::string_view text);
    /// Takes the state that the toolkit's own editing left (shown with blanks
    /// or BlankShown), so that the next key acts on what the user sees.
    void Assign(std::string_view shown, int caret, int selStart, int selLength, bool modified);
    /// Selects length positions from start; the caret goes to its end.
    void Select(int start, int length);

    /// A typed character: a digit fills the position at the caret (or the
    /// first digit position after it) and moves past following literals; a
    /// literal moves the caret past the next such literal, leaving the
    /// digits skipped over unfilled. False for a refused key: anything else,
    /// or a literal with no further one to move to; the field should beep.
    bool Type(char c);
    /// Unfills the selection, or the digit position before the caret.
    void Backspace();
    /// Unfills the selection, or the position at the caret.
    void Delete();
    /// Pasted text. Text in the pattern's groups (digits between the
    /// literals, "127.0.0.2") fills the whole field group by group, each
    /// group padded with leading zeros. Any other text replaces the
    /// selection and is placed from the caret as typed, literals in it moving
    /// to the next group, characters that fit nowhere dropped.
    void Paste(std::string_view text);

    /// The user enters the field: its text now is what Escape brings back.
    /// Entering again before Leave (back from another window) changes nothing.
    void Enter();
    /// Escape: restores the text of Enter when the field holds changes;
    /// false (nothing done) when it holds none.
    bool Escape();
    /// On leaving or Enter: true when the field may be left (unchanged, or
    /// complete). Otherwise the caret goes to the first unfilled position and
    /// the field should beep, keep the focus and show InvalidInputMessage.
    bool Validate();
    /// The user has left the field.
    void Leave() { entered_ = false; }

private:
    bool IsLiteral(int position) const;
    /// What text placed from position on covers, as Qt's masked line edit
    /// places it; positions that a literal in text skips keep fill's.
    std::string Place(int position, std::string_view text, const std::string& fill) const;
    /// The first digit position at or after position; Length() if none.
    int NextDigitPosition(int position) const;
    void Unfill(int from, int count);
    /// Unfills a selection and puts the caret at its start; false if none.
    bool RemoveSelection();
    void Insert(std::string_view text);
    bool TypeLiteral(char literal);
    int Length() const { return static_cast<int>(pattern_.size()); }

    std::string pattern_;
    std::string text_;
    std::string entryText_;
    int caret_ = 0;
    int selStart_ = 0;
    int selLength_ = 0;
    bool modified_ = false;
    bool entered_ = false;
};
