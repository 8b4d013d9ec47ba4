// The masked edit `TMaskEdit` that holds the unit's address, on the Windows
// GUI: a single-line EDIT control whose every edit (typed keys, Backspace,
// Delete, paste, cut, Escape) goes through the toolkit-free TMaskRules, so
// the field takes the same keys as in every other window. The EDIT keeps the
// caret, the selection and the drawing. What the address is used for is the
// loader's business, and how the error box opens is the window's.
#pragma once

#include <functional>
#include <string>

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
    /// All positions with the literals in place and unfilled ones as blanks.
    std::string MaskedText();
    /// True while the user is in the field with a change that may not be
    /// left yet; a click elsewhere then counts for nothing.
    bool HoldsInvalidChange();

    /// The user left a changed field, or pressed Enter in it, while a digit
    /// position was unfilled; the field has beeped and put its caret on the
    /// first unfilled position. Called from the field's own messages: the
    /// receiver should open no box before the focus change has ended.
    std::function<void(const std::string& message)> OnValidationFailed;
    /// Enter in a complete field that may be left.
    std::function<void()> OnConfirmed;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    /// The rules take the caret and selection the EDIT shows now...
    TMaskRules& Pull();
    /// ...and the EDIT shows what they made of the field.
    void Push();
    bool Validate();
    void PasteClipboard();

    HWND edit_ = nullptr;
    TMaskRules rules_;
};
