// The window's tooltips on the Windows GUI: one tooltip control for every
// control of the window that has a tip, each tip the control's whole status
// text or what the control does. What a tip says is the window's business.
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

class TToolTips {
public:
    /// The tooltip control of owner, the window whose controls get tips.
    explicit TToolTips(HWND owner);
    TToolTips(const TToolTips&) = delete;
    TToolTips& operator=(const TToolTips&) = delete;

    /// Gives control a tip; an empty text shows none.
    void Add(HWND control, const std::string& text);
    void SetText(HWND control, const std::string& text);
    /// The tip of control; empty for none.
    std::string Text(HWND control) const;

private:
    /// Sends the tip control message (add, or update the text) for control.
    void Send(UINT message, HWND control, const std::string& text);

    HWND owner_;
    HWND tips_;
};
