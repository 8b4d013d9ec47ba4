// What the window's files share to make and place controls on the Windows
// GUI: a length of the 96-DPI layout at a DPI, the window's font, a child
// control made in one call, a control's place read and set, and an item's
// text read from a list. Where each control goes is Tftftp_main::Layout's
// (Layout.cpp), from app/WindowLayout.h.
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/WindowLayout.h"

/// A length of the layout of 96 DPI at dpi.
inline int Scaled(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

/// A place of the layout of 96 DPI at dpi, as a rectangle.
inline RECT Scaled(const TLayoutRect& place, UINT dpi) {
    return {Scaled(place.Left, dpi), Scaled(place.Top, dpi), Scaled(place.Right(), dpi),
            Scaled(place.Bottom(), dpi)};
}

/// "Tahoma" of points at dpi.
HFONT TahomaFont(int points, UINT dpi);

/// A child control of parent at place, made and given font.
HWND CreateControl(HWND parent, DWORD exStyle, const wchar_t* windowClass, const std::string& text,
                   DWORD style, RECT place, int id, HFONT font);

/// The place of control in its parent's client area.
RECT PlaceOf(HWND control);

/// Moves control to place within its parent and gives it that size.
void Move(HWND control, RECT place);

/// The work area of the monitor that window is on.
RECT WorkAreaOf(HWND window);

/// Moves window to stand centred over over (a rectangle of the screen),
/// inside the work area of the monitor that over is on.
void CentreOver(HWND window, const RECT& over);

/// The text of a list's or drop-down list's item (getLength and getText its
/// messages for them); empty for an index without an item.
std::string ItemText(HWND list, UINT getLength, UINT getText, int index);
