// The window's message boxes on the Windows GUI: captioned with the
// application title, owned by the window and opened centred over it (the
// system centres a box on the screen, far from a window elsewhere).
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

/// MessageBoxW over owner with text and the buttons and icon of type;
/// returns the button pressed. Any thread may call it.
int OwnedBox(HWND owner, const std::string& text, UINT type);
