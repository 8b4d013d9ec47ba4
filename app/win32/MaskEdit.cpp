// The Windows adapter of the masked address field. Every message that would
// change the EDIT's text (a character, Backspace, Delete, Ctrl+V and the
// EDIT's own menu, which arrive as WM_PASTE, WM_CUT and WM_CLEAR) goes
// through TMaskRules; Undo, which would step back past them, does nothing.
// The EDIT itself keeps navigation, selection and the drawing.
#include "app/win32/MaskEdit.h"
#include "app/win32/WindowText.h"

#include <commctrl.h>
#include <utility>

namespace {

constexpr UINT_PTR SubclassId = 1;

bool CommandKeyDown() {
    return GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
}

} // namespace

TMaskEdit::TMaskEdit(HWND parent, int id, RECT place, HFONT font, const std::string& pattern,
                     const std::string& text)
    : rules_(pattern, text) {
    edit_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
        place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    // The font first: the EDIT scrolls the caret into view in the font it has.
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(edit_, EM_LIMITTEXT, pattern.size(), 0);
    SetWindowSubclass(edit_, &TMaskEdit::Procedure, SubclassId, reinterpret_cast<DWORD_PTR>(this));
    Push();
}

void TMaskEdit::Place(RECT place, HFONT font) {
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowPos(edit_, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Set anew, the text scrolls back to its start in the new size and font.
    Rules();
    Push();
}

std::string TMaskEdit::MaskedText() {
    return Rules().Text();
}

std::string TMaskEdit::Reading() {
    return Rules().Reading();
}

bool TMaskEdit::HoldsInvalidChange() {
    return Rules().HoldsInvalidChange();
}

LRESULT CALLBACK TMaskEdit::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR /*id*/, DWORD_PTR self) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &TMaskEdit::Procedure, SubclassId);
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    return reinterpret_cast<TMaskEdit*>(self)->Message(message, wParam, lParam);
}

LRESULT TMaskEdit::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(edit_, message, wParam, lParam);
}

LRESULT TMaskEdit::Message(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETDLGCODE: {
        // Enter and Escape belong to the field (validation, restoring), not
        // to the window's keyboard handling.
        LRESULT code = Default(message, wParam, lParam);
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg != nullptr && msg->message == WM_KEYDOWN &&
            (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    case WM_CHAR: {
        const auto c = static_cast<unsigned char>(wParam);
        if (c == '\b') {
            Pull().Backspace();
            Push();
            return 0;
        }
        if (c == '\r' || c == '\n' || c == 0x1b || c == 0x1a) // Enter, Escape, Ctrl+Z
            return 0;
        if (SelectAllKey(edit_, message, wParam))
            return 0;
        if (c < ' ') // Ctrl+C, Ctrl+V, Ctrl+X: the EDIT turns them into messages
            return Default(message, wParam, lParam);
        TMaskRules& rules = Pull();
        const bool typed = c < 0x7f && rules.Type(static_cast<char>(c));
        Push();
        if (!typed)
            Refuse();
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_DELETE && !CommandKeyDown()) {
            Pull().Delete();
            Push();
            return 0;
        }
        if (wParam == VK_ESCAPE) {
            if (Pull().Escape())
                Push();
            return 0;
        }
        if (wParam == VK_RETURN) {
            if (Validate() && rules_.FirstUnfilled() < 0 && OnConfirmed)
                OnConfirmed();
            return 0;
        }
        break;
    case WM_PASTE:
        PasteClipboard();
        return 0;
    case WM_CUT:
        if (Pull().SelectionLength() > 0) {
            Default(WM_COPY, 0, 0);
            rules_.Delete();
            Push();
        }
        return 0;
    case WM_CLEAR:
        Pull().Delete();
        Push();
        return 0;
    case WM_UNDO:
    case EM_UNDO:
        return 0;
    case WM_LBUTTONDOWN:
        // Whether the user moved the caret before this click, which moves it
        // too (and brings the focus, WM_SETFOCUS, when it enters the field).
        Pull();
        break;
    case WM_LBUTTONUP: {
        const LRESULT result = Default(message, wParam, lParam);
        if (Rules().Click())
            Push();
        return result;
    }
    case WM_SETFOCUS: {
        // However it came: a click, Tab, the activation of the window, the
        // focus given back after a run.
        const LRESULT result = Default(message, wParam, lParam);
        Rules().Enter();
        Push();
        return result;
    }
    case WM_KILLFOCUS: {
        const LRESULT result = Default(message, wParam, lParam);
        // Going to another window (the error box among them) or to nothing is
        // not leaving the field: the user comes back to it where they were.
        const auto to = reinterpret_cast<HWND>(wParam);
        if (to != nullptr && GetAncestor(to, GA_ROOT) == GetAncestor(edit_, GA_ROOT) && Validate())
            rules_.Leave();
        return result;
    }
    default:
        break;
    }
    return Default(message, wParam, lParam);
}

std::pair<DWORD, DWORD> TMaskEdit::Selection() const {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

TMaskRules& TMaskEdit::Rules() {
    // The window reads the address on the EDIT's change, inside Push.
    if (pushing_)
        return rules_;
    const auto [start, end] = Selection();
    rules_.Assign(WindowText(edit_), static_cast<int>(end), static_cast<int>(start),
                  static_cast<int>(end - start), rules_.Modified());
    return rules_;
}

TMaskRules& TMaskEdit::Pull() {
    Rules();
    if (std::exchange(shown_, Selection()) != Selection())
        rules_.CaretMoved();
    return rules_;
}

void TMaskEdit::Push() {
    pushing_ = true;
    SetControlText(edit_, rules_.Shown());
    if (rules_.SelectionLength() > 0)
        SendMessageW(edit_, EM_SETSEL, rules_.SelectionStart(),
                     rules_.SelectionStart() + rules_.SelectionLength());
    else
        SendMessageW(edit_, EM_SETSEL, rules_.Caret(), rules_.Caret());
    pushing_ = false;
    shown_ = Selection();
}

bool TMaskEdit::Validate() {
    if (Pull().Validate()) {
        if (rules_.Shown() != WindowText(edit_))
            Push(); // its short groups closed
        return true;
    }
    Push(); // the caret on the group at fault
    Refuse();
    return false;
}

void TMaskEdit::Refuse() {
    MessageBeep(MB_OK);
    const std::string message = rules_.RefusalMessage();
    if (!message.empty() && OnValidationFailed)
        OnValidationFailed(message);
}

void TMaskEdit::PasteClipboard() {
    const bool pasted = Pull().Paste(ClipboardText(edit_));
    Push();
    if (!pasted)
        Refuse();
}
