// The masked edit `TMaskEdit` that holds the unit's address, on the Windows
// GUI: a single-line EDIT control whose every edit (typed keys, Backspace,
// Delete, paste, cut, Escape) goes through the toolkit-free TMaskRules, so
// the field takes the same keys as in every other window. The EDIT keeps the
// caret, the selection and the drawing. What the address is used for is the
// loader's business, and how the error box opens is the window's.
#pragma once

#include <functional>
#include <string>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/MaskRules.h"

class TMaskEdit {
public:
    /// Creates the EDIT as a child of parent at the given place, in font,
    /// holding text.
    TMaskEdit(HWND parent, int id, RECT place, HFONT font, const std::string& pattern,
              const std::string& text);
    TMaskEdit(const TMaskEdit&) = delete;
    TMaskEdit& operator=(const TMaskEdit&) = delete;

    HWND Handle() const { return edit_; }
    /// Moves the EDIT to place in font, its text shown from the start again.
    void Place(RECT place, HFONT font);
    /// All positions with the literals in place and unfilled ones as blanks.
    std::string MaskedText();
    /// The field as the program reads it, its short groups closed
    /// (TMaskRules::Reading): what Connect takes.
    std::string Reading();
    /// True while the user is in the field with a change that may not be
    /// left yet; a click elsewhere then counts for nothing.
    bool HoldsInvalidChange();

    /// The field refused a digit or a paste that would take a group above
    /// 255, or to be left (by the focus or Enter) with a group empty; it has
    /// beeped, and the message names the group (GroupRangeMessage). Called
    /// from the field's own messages: the receiver should open no box before
    /// the key or focus change has ended.
    std::function<void(const std::string& message)> OnValidationFailed;
    /// Enter in a complete field that may be left.
    std::function<void()> OnConfirmed;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    /// The EDIT's selection: its start and its end, the caret.
    std::pair<DWORD, DWORD> Selection() const;
    /// The rules take the text, caret and selection the EDIT shows now;
    /// while the EDIT is being shown anew, they hold what it is to show.
    TMaskRules& Rules();
    /// Rules() for an edit by the user: a caret that stands elsewhere than
    /// the field last put it was moved by the user.
    TMaskRules& Pull();
    /// The EDIT shows what the rules made of the field.
    void Push();
    bool Validate();
    /// Beeps, and reports the rules' refusal message when they have one.
    void Refuse();
    void PasteClipboard();

    HWND edit_ = nullptr;
    TMaskRules rules_;
    /// The selection as Push last left it.
    std::pair<DWORD, DWORD> shown_{};
    /// Push is under way: the text is set, the selection not yet.
    bool pushing_ = false;
};
