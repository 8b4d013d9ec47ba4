// The loader's window as it is laid out at 96 DPI, the one set of numbers
// that every toolkit's window places its controls by: a window scales them
// to its DPI and may widen a control whose text needs more room, but starts
// from these. Places only; what a control shows or does belongs elsewhere.
#pragma once

/// A control's place in its parent's client area, in pixels at 96 DPI.
struct TLayoutRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    constexpr int Right() const noexcept { return Left + Width; }
    constexpr int Bottom() const noexcept { return Top + Height; }
};

struct TWindowLayout {
    /// The window's client area.
    static constexpr int ClientWidth = 677;
    static constexpr int ClientHeight = 228;

    // In the window. The status label starts 4 wide and grows with its text.
    static constexpr TLayoutRect Status{568, 200, 4, 16};
    static constexpr TLayoutRect AddressLabel{16, 12, 56, 13};
    static constexpr TLayoutRect Log{309, 8, 360, 177};
    static constexpr TLayoutRect Address{78, 8, 98, 21};
    static constexpr TLayoutRect Connect{200, 8, 89, 25};
    static constexpr TLayoutRect FileGroup{16, 43, 273, 174};
    // In the group: the folder edit with its browse button at its right end.
    static constexpr TLayoutRect Folder{6, 32, 251, 21};
    static constexpr TLayoutRect WebPages{6, 64, 251, 21};
    static constexpr TLayoutRect Programs{6, 95, 251, 21};
    static constexpr TLayoutRect Upload{96, 133, 75, 25};
    // The free strip between the log's bottom and the window's, ending short
    // of the status label: shown only during a transfer.
    static constexpr TLayoutRect TransferBar{309, 203, 251, 10};

    static constexpr int FolderButtonWidth = 18;
    /// The rows an open image list shows at once, with a scroll bar for more.
    static constexpr int DropDownRows = 12;
    /// The log's line height, whatever the font's own line spacing, so that
    /// the log shows as many lines with a substitute for its font.
    static constexpr int LogLineHeight = 13;
};
