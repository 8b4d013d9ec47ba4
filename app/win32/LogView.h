// The log `ListBox1` on the Windows GUI: a list box of lines that scrolls
// down to each new line and sideways as far as the longest reaches, its
// lines with their selection, and its menu (Copy, Save As) with the file
// name that Save As asks for. What Copy and Save As make of the lines is the
// window controller's business.
#pragma once

#include <optional>
#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/WindowController.h"

class TLogView {
public:
    /// The log's menu items.
    enum TMenuItem { miNone, miCopy, miSaveAs };

    /// Creates the list box as a child of parent, in font, not yet placed.
    TLogView(HWND parent, int id, HFONT font);
    TLogView(const TLogView&) = delete;
    TLogView& operator=(const TLogView&) = delete;

    HWND Handle() const { return list_; }

    /// Appends line at the end and scrolls to it.
    void Add(const std::string& line);
    void Clear();
    std::vector<TLogLine> Lines() const;
    /// Lines of at least lineHeight in the font it has now, every line
    /// reachable sideways: after a change of its font or of the DPI.
    void FitLines(int lineHeight);

    /// Opens the menu at at (screen coordinates; -1, -1 from the keyboard:
    /// at the log's corner) and returns the item chosen.
    TMenuItem Menu(POINT at) const;
    /// True for the key that copies, as the menu's Copy does (Ctrl+C).
    bool IsCopyKey(const MSG& msg) const;
    /// Asks where to save the log, with owner disabled meanwhile; none when
    /// the user cancels.
    static std::optional<std::string> AskSavePath(HWND owner);

private:
    /// Lets the list scroll sideways as far as line reaches.
    void Widen(const std::string& line);

    HWND list_ = nullptr;
};
