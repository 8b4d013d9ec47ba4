// The masked field's editing rules. Typed digits and a paste that is not a
// whole address place their characters the way the Qt window's masked line
// edit always has (the window keeps Qt's mask for its look), so the field
// reads the same under every toolkit; the groups' range, the literal key that
// closes a group, the beep, Escape and the validation are the field's own
// additions.
#include "app/MaskRules.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "runtime/Convert.h"

namespace {

constexpr char Blank = ' ';

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// Text in the pattern's groups, each group of digits 1 up to its width long
/// and the literals in place, padded with leading zeros to fill the pattern
/// ("127.0.0.2" gives "127.000.000.002" for "000.000.000.000"). No value
/// for any other text.
std::optional<std::string> FillGroups(std::string_view pattern, std::string_view text) {
    std::string filled;
    std::size_t at = 0;
    for (std::size_t p = 0; p < pattern.size();) {
        if (pattern[p] != TMaskRules::DigitPosition) {
            if (at >= text.size() || text[at] != pattern[p])
                return std::nullopt;
            filled += pattern[p++];
            ++at;
            continue;
        }
        std::size_t width = 0;
        while (p + width < pattern.size() && pattern[p + width] == TMaskRules::DigitPosition)
            ++width;
        std::size_t digits = 0;
        while (at + digits < text.size() && IsDigit(text[at + digits]))
            ++digits;
        if (digits < 1 || digits > width)
            return std::nullopt;
        filled += std::string(width - digits, '0');
        filled += text.substr(at, digits);
        at += digits;
        p += width;
    }
    if (at != text.size())
        return std::nullopt;
    return filled;
}

/// "The first group" to "The fourth group" for groups 0 to 3; a pattern with
/// more groups counts them.
std::string GroupName(int group) {
    static constexpr const char* Ordinals[] = {"first", "second", "third", "fourth"};
    if (group >= 0 && group < static_cast<int>(std::size(Ordinals)))
        return std::string("The ") + Ordinals[group] + " group";
    return "Group " + std::to_string(group + 1);
}

} // namespace

std::string GroupRangeMessage(int group) {
    return GroupName(group) + " must be 0 to " + std::to_string(TMaskRules::GroupMaximum);
}

std::optional<std::string> MaskedAddressText(const std::string& address) {
    auto filled = FillGroups(AddressPattern, address);
    if (!filled)
        return std::nullopt;
    for (std::size_t group = 0; group < filled->size(); group += 4)
        if (std::stoi(filled->substr(group, 3)) > 255)
            return std::nullopt;
    return filled;
}

TMaskRules::TMaskRules(std::string pattern, std::string_view text) : pattern_(std::move(pattern)) {
    for (int i = 0; i < Length();) {
        if (IsLiteral(i)) {
            ++i;
            continue;
        }
        TGroup group{i, 0};
        while (i < Length() && !IsLiteral(i))
            ++i, ++group.Width;
        groups_.push_back(group);
    }
    SetText(text);
}

std::string TMaskRules::Shown() const {
    std::string shown = text_;
    for (int i = 0; i < Length(); ++i)
        if (!IsLiteral(i) && shown[i] == Blank)
            shown[i] = BlankShown;
    return shown;
}

std::string TMaskRules::Reading() const {
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g)
        if (GroupValue(g) < 0)
            return text_; // a group without a digit has no number to close on
    TMaskRules closed = *this;
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g)
        closed.CloseGroup(g);
    return closed.text_;
}

std::string TMaskRules::RefusalMessage() const {
    return refusedGroup_ < 0 ? std::string() : GroupRangeMessage(refusedGroup_);
}

int TMaskRules::GroupAt(int position) const {
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g)
        if (position >= groups_[g].Start && position <= groups_[g].End())
            return g;
    return -1;
}

int TMaskRules::GroupValue(int group) const {
    int value = -1;
    const TGroup& at = groups_[group];
    for (int i = at.Start; i < at.End(); ++i)
        if (IsDigit(text_[i]))
            value = std::max(value, 0) * 10 + (text_[i] - '0');
    return value;
}

int TMaskRules::InvalidGroup() const {
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g) {
        const int value = GroupValue(g);
        if (value < 0 || value > GroupMaximum)
            return g;
    }
    return -1;
}

int TMaskRules::OversizedGroup() const {
    for (int g = 0; g < static_cast<int>(groups_.size()); ++g)
        if (GroupValue(g) > GroupMaximum)
            return g;
    return -1;
}

void TMaskRules::CloseGroup(int group) {
    const TGroup& at = groups_[group];
    std::string digits;
    for (int i = at.Start; i < at.End(); ++i)
        if (IsDigit(text_[i]))
            digits += text_[i];
    if (digits.empty())
        return;
    digits.insert(0, at.Width - digits.size(), '0');
    text_.replace(at.Start, at.Width, digits);
}

int TMaskRules::FirstUnfilled() const {
    for (int i = 0; i < Length(); ++i)
        if (!IsLiteral(i) && text_[i] == Blank)
            return i;
    return -1;
}

bool TMaskRules::IsLiteral(int position) const {
    return position >= 0 && position < Length() && pattern_[position] != DigitPosition;
}

int TMaskRules::NextDigitPosition(int position) const {
    while (position < Length() && IsLiteral(position))
        ++position;
    return position;
}

void TMaskRules::SetText(std::string_view text) {
    text_.assign(pattern_.size(), Blank);
    Unfill(0, Length()); // the literals in place
    const std::string placed = Place(0, text, text_);
    text_.replace(0, placed.size(), placed);
    caret_ = Length();
    selLength_ = 0;
    modified_ = false;
}

void TMaskRules::Assign(std::string_view shown, int caret, int selStart, int selLength,
                        bool modified) {
    for (int i = 0; i < Length(); ++i) {
        const char c = i < static_cast<int>(shown.size()) ? shown[i] : Blank;
        text_[i] = IsLiteral(i) ? pattern_[i] : IsDigit(c) ? c : Blank;
    }
    caret_ = std::clamp(caret, 0, Length());
    selStart_ = std::clamp(selStart, 0, Length());
    selLength_ = selStart < 0 ? 0 : std::clamp(selLength, 0, Length() - selStart_);
    modified_ = modified;
}

void TMaskRules::Select(int start, int length) {
    selStart_ = std::clamp(start, 0, Length());
    selLength_ = std::clamp(length, 0, Length() - selStart_);
    caret_ = selStart_ + selLength_;
    fresh_ = false;
}

bool TMaskRules::Click() {
    // However the field was entered, the click that places the caret first
    // may not be where the user meant to type: a click that also activated
    // the window, or one into a field that the focus came back to, lands
    // somewhere in the middle of the address.
    if (!fresh_ || selLength_ > 0) {
        fresh_ = false;
        return false;
    }
    Select(0, Length());
    return true;
}

void TMaskRules::TakeFresh() {
    if (fresh_)
        Select(0, Length());
}

void TMaskRules::Unfill(int from, int count) {
    for (int i = std::max(from, 0); i < std::min(from + count, Length()); ++i)
        text_[i] = IsLiteral(i) ? pattern_[i] : Blank;
}

bool TMaskRules::RemoveSelection() {
    if (selLength_ == 0)
        return false;
    Unfill(selStart_, selLength_);
    caret_ = selStart_;
    selLength_ = 0;
    modified_ = true;
    return true;
}

std::string TMaskRules::Place(int position, std::string_view text, const std::string& fill) const {
    std::string placed;
    int i = position;
    std::size_t k = 0;
    while (i < Length() && k < text.size()) {
        const char c = text[k];
        if (IsLiteral(i)) {
            // A literal in the text confirms the one here; anything else
            // goes on to the next position.
            placed += pattern_[i];
            if (c == pattern_[i])
                ++k;
            ++i;
            continue;
        }
        if (IsDigit(c) || c == BlankShown) {
            placed += c == BlankShown ? Blank : c;
            ++i;
        } else {
            // A literal further on: the digits up to it keep what they hold.
            // A lone literal typed just past the same one stays there.
            int to = i;
            while (to < Length() && !(IsLiteral(to) && pattern_[to] == c))
                ++to;
            const bool justPassed = text.size() == 1 && IsLiteral(i - 1) && pattern_[i - 1] == c;
            if (to < Length() && !justPassed) {
                placed += fill.substr(i, to - i + 1);
                i = to + 1;
            }
        }
        ++k;
    }
    return placed;
}

void TMaskRules::Insert(std::string_view text) {
    RemoveSelection();
    const std::string placed = Place(caret_, text, text_);
    if (placed.empty())
        return;
    text_.replace(caret_, placed.size(), placed);
    caret_ = NextDigitPosition(caret_ + static_cast<int>(placed.size()));
    modified_ = true;
}

bool TMaskRules::Type(char c) {
    const TMaskRules before = *this;
    TakeFresh();
    refusedGroup_ = -1;
    bool typed = false;
    if (IsDigit(c)) {
        RemoveSelection();
        const int at = NextDigitPosition(caret_);
        Insert(std::string_view(&c, 1));
        const int group = at < Length() ? GroupAt(at) : -1;
        if (group >= 0 && GroupValue(group) > GroupMaximum) {
            // Over a group's old digits ("192" and a 3 typed at its start)
            // the user is typing a new number: the rest of the old one goes.
            Unfill(at + 1, groups_[group].End() - at - 1);
            if (GroupValue(group) > GroupMaximum)
                refusedGroup_ = group;
        }
        typed = refusedGroup_ < 0;
    } else if (c != DigitPosition && pattern_.find(c) != std::string::npos) {
        typed = TypeLiteral(c);
    }
    if (!typed) {
        const int refused = refusedGroup_;
        *this = before;
        refusedGroup_ = refused;
    }
    return typed;
}

bool TMaskRules::TypeLiteral(char literal) {
    RemoveSelection();
    // After a full group the caret already stands past the literal; the
    // literal the user types there is the one just passed, not the next.
    if (IsLiteral(caret_ - 1) && pattern_[caret_ - 1] == literal)
        return true;
    const int group = GroupAt(caret_);
    if (group < 0)
        return false;
    const TGroup& at = groups_[group];
    // The group ends where the user typed its end: its digits before the
    // caret are the number, whatever stood after them.
    const int end = at.End();
    if (end >= Length() || pattern_[end] != literal)
        return false; // no further group to move to
    bool digitTyped = false;
    for (int i = at.Start; i < caret_; ++i)
        digitTyped = digitTyped || IsDigit(text_[i]);
    if (!digitTyped)
        return false; // nothing typed in it yet: the dot would skip a group
    Unfill(caret_, end - caret_);
    CloseGroup(group);
    caret_ = end + 1;
    modified_ = true;
    return true;
}

void TMaskRules::Backspace() {
    TakeFresh();
    if (RemoveSelection() || caret_ == 0)
        return;
    int at = caret_ - 1;
    while (at > 0 && IsLiteral(at))
        --at;
    caret_ = at;
    if (IsLiteral(at))
        return;
    Unfill(at, 1);
    modified_ = true;
}

void TMaskRules::Delete() {
    TakeFresh();
    if (RemoveSelection() || caret_ >= Length() || IsLiteral(caret_))
        return;
    Unfill(caret_, 1);
    modified_ = true;
}

bool TMaskRules::Paste(std::string_view text) {
    const TMaskRules before = *this;
    TakeFresh();
    // A whole address copied from elsewhere ("127.0.0.2", perhaps with a
    // line end) means that address, wherever the caret stands.
    if (auto filled = FillGroups(pattern_, Trim(text))) {
        text_ = *filled;
        caret_ = Length();
        selLength_ = 0;
        modified_ = true;
    } else {
        Insert(text);
    }
    refusedGroup_ = OversizedGroup();
    if (refusedGroup_ < 0)
        return true;
    const int refused = refusedGroup_;
    *this = before;
    refusedGroup_ = refused;
    return false;
}

void TMaskRules::Enter() {
    if (entered_)
        return;
    entered_ = true;
    entryText_ = text_;
    modified_ = false;
    Select(0, Length());
    fresh_ = true;
}

bool TMaskRules::Escape() {
    if (!modified_)
        return false;
    text_ = entryText_;
    caret_ = Length();
    selLength_ = 0;
    modified_ = false;
    return true;
}

bool TMaskRules::Validate() {
    refusedGroup_ = -1;
    if (!modified_)
        return true;
    const int invalid = InvalidGroup();
    if (invalid < 0) {
        text_ = Reading();
        return true;
    }
    refusedGroup_ = invalid;
    caret_ = groups_[invalid].Start;
    selLength_ = 0;
    return false;
}
