// The names that screen readers give the window's controls on the Windows
// GUI. The system names a control by its text (an edit's content, a list's
// selection) or by the label in front of it, which the window's edits and
// lists do not have; a control named here answers the accessibility
// interfaces' question for its object (WM_GETOBJECT) with the system's own
// object under the name it is given. What each control is called is the
// window's business.
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

/// How a named control's own text reaches a screen reader.
enum class TTextRole {
    trAsIs,       // as the system gives it (an edit's value, say)
    trDescription // as its description: a label whose text is what it shows
};

/// Gives control name as its accessible name (MSAA's, and through it UI
/// Automation's), for as long as it lives.
void SetAccessibleName(HWND control, const std::string& name, TTextRole text = TTextRole::trAsIs);
