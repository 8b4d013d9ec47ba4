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
#include <vector>

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

/// What a masked field says when a group of its digits is not a number from
/// 0 to TMaskRules::GroupMaximum: "The second group must be 0 to 255" for
/// group 1 (groups count from 0). Every window shows this same text.
std::string GroupRangeMessage(int group);

/// Each run of digit positions in the pattern is a group that reads the
/// digits it holds as one number from 0 to GroupMaximum ("1 5" reads 15).
/// A group that holds a digit is complete enough: leaving the field closes
/// it, its digits moved to the right and led by zeros ("9  " becomes "009").
class TMaskRules {
public:
    static constexpr char DigitPosition = '0';
    /// How an unfilled digit position is shown; Text() reads it as a blank.
    static constexpr char BlankShown = '_';
    static constexpr int GroupMaximum = 255;

    /// pattern: DigitPosition for a digit, any other character a literal.
    /// The field starts with text, placed as SetText places it.
    TMaskRules(std::string pattern, std::string_view text);

    const std::string& Pattern() const { return pattern_; }
    /// Every position, literals in place, unfilled digit positions as blanks.
    const std::string& Text() const { return text_; }
    /// As Text(), with unfilled digit positions as BlankShown.
    std::string Shown() const;
    /// The field as the program reads it: Text() with every group closed,
    /// once each group holds a digit ("127.0  .0  .9  " reads
    /// "127.000.000.009"); Text() itself while a group holds none.
    std::string Reading() const;
    int Caret() const { return caret_; }
    /// The selection: its first position and its length (0: none).
    int SelectionStart() const { return selStart_; }
    int SelectionLength() const { return selLength_; }
    /// True once the user changed the field since entering it.
    bool Modified() const { return modified_; }
    /// The first unfilled digit position, or -1 when the field is complete.
    int FirstUnfilled() const;
    /// True while the user is in the field with a change that may not be
    /// left yet (a group empty or above GroupMaximum); a click elsewhere then
    /// counts for nothing.
    bool HoldsInvalidChange() const { return entered_ && modified_ && InvalidGroup() >= 0; }
    /// GroupRangeMessage for the group that the last Type, Paste or Validate
    /// refused; empty when that refusal named no group (a letter typed) or
    /// nothing was refused.
    std::string RefusalMessage() const;

    /// Places text as the program sets a field: from the first position on,
    /// as a paste into an empty field; not a change by the user. The caret
    /// goes to the end.
    void SetText(std::string_view text);
    /// Takes the state that the toolkit's own editing left (shown with blanks
    /// or BlankShown), so that the next key acts on what the user sees.
    void Assign(std::string_view shown, int caret, int selStart, int selLength, bool modified);
    /// Selects length positions from start, as the user does (a drag, Shift
    /// and the arrow keys); the caret goes to its end.
    void Select(int start, int length);
    /// True from entering the field until the user types or moves the caret:
    /// meanwhile the whole text is what the next click or key acts on.
    bool Fresh() const { return fresh_; }
    /// A click in the field, whose caret (or dragged selection) the toolkit
    /// has placed and Assign taken: the first click since entering selects
    /// the whole text instead, unless it dragged a selection of its own, so
    /// that typing replaces the address, as the address fields of the
    /// platforms do; later clicks keep the caret where they put it. True when
    /// it selected the whole text.
    bool Click();
    /// The user moved the caret or the selection (a key the toolkit handles,
    /// a drag): the field is no longer fresh, and the next click places the
    /// caret.
    void CaretMoved() { fresh_ = false; }

    // While the field is fresh, each edit below acts on the whole text (the
    // first key typed replaces the address), and ends its freshness.

    /// A typed character: a digit fills the position at the caret (or the
    /// first digit position after it) and moves past following literals.
    /// A digit that would take its group above GroupMaximum starts the group
    /// anew, the group's positions after it unfilled; one that is too much
    /// even so is refused, and RefusalMessage names its group. A literal
    /// closes the group the caret is in, keeping the digits before the caret
    /// ("10" and "." read "010."), and moves the caret past the literal;
    /// typed just after a literal it only confirms that one. False for a
    /// refused key, which changes nothing: anything else, a literal with no
    /// digit before it in its group or none further on; the field should beep.
    bool Type(char c);
    /// Unfills the selection, or the digit position before the caret.
    void Backspace();
    /// Unfills the selection, or the position at the caret.
    void Delete();
    /// Pasted text. Text in the pattern's groups (digits between the
    /// literals, "127.0.0.2") fills the whole field group by group, each
    /// group padded with leading zeros. Any other text replaces the
    /// selection and is placed from the caret as typed, literals in it moving
    /// to the next group, characters that fit nowhere dropped. False, nothing
    /// changed and RefusalMessage naming the group, when a group would be
    /// above GroupMaximum.
    bool Paste(std::string_view text);

    /// The user enters the field, however: a click, one that also activates
    /// the window, Tab or Shift+Tab, the focus given back after a run. Its
    /// text now is what Escape brings back, the whole of it is selected, and
    /// the field is fresh. Entering again before Leave (back from another
    /// window or a box, the field never left) changes nothing: the user goes
    /// on where they were.
    void Enter();
    /// Escape: restores the text of Enter when the field holds changes;
    /// false (nothing done) when it holds none.
    bool Escape();
    /// On leaving or Enter: true when the field may be left (unchanged, or
    /// every group 0 to GroupMaximum), its groups then closed. Otherwise the
    /// caret goes to the first position of the first group that is empty or
    /// too large, and the field should beep, keep the focus and show
    /// RefusalMessage.
    bool Validate();
    /// The user has left the field.
    void Leave() { entered_ = fresh_ = false; }

private:
    struct TGroup {
        int Start;
        int Width;
        int End() const { return Start + Width; }
    };

    bool IsLiteral(int position) const;
    /// The group that holds position, or whose end it is; -1 for none.
    int GroupAt(int position) const;
    /// The number the group's digits read; -1 when it holds none.
    int GroupValue(int group) const;
    /// The first group that is empty or above GroupMaximum; -1 for none.
    int InvalidGroup() const;
    /// The first group above GroupMaximum; -1 for none.
    int OversizedGroup() const;
    /// Moves the group's digits to its right end, leading zeros before them.
    void CloseGroup(int group);
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
    /// While the field is fresh, selects the whole text for the edit to come.
    void TakeFresh();
    int Length() const { return static_cast<int>(pattern_.size()); }

    std::string pattern_;
    std::vector<TGroup> groups_;
    std::string text_;
    std::string entryText_;
    int caret_ = 0;
    int selStart_ = 0;
    int selLength_ = 0;
    bool modified_ = false;
    bool entered_ = false;
    bool fresh_ = false;
    int refusedGroup_ = -1;
};
