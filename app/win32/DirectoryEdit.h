// The folder edit `TAdvDirectoryEdit` on the Windows GUI: an EDIT with a
// browse button (and F4) that opens the system's folder picker. Every change
// of the text reaches the owner as the EDIT's EN_CHANGE; what a change means
// (the image folder scan) is the owner's business, not this control's.
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

class TAdvDirectoryEdit {
public:
    /// Creates the edit and, at its right end inside place, the browse button.
    TAdvDirectoryEdit(HWND parent, int editId, int buttonId, RECT place);
    /// Moves the edit to place, the browse button buttonWidth wide at its
    /// right end inside it, with the shell's folder picture of the size that
    /// fits the button.
    void Place(RECT place, int buttonWidth);
    ~TAdvDirectoryEdit();
    TAdvDirectoryEdit(const TAdvDirectoryEdit&) = delete;
    TAdvDirectoryEdit& operator=(const TAdvDirectoryEdit&) = delete;

    HWND Edit() const { return edit_; }
    /// 18 wide at 96 DPI, with a folder picture, a Tab stop after the edit;
    /// the chooser it opens hands the focus back to the edit.
    HWND BrowseButton() const { return button_; }

    /// The folder as typed or chosen.
    std::string Text() const;
    /// Sets the text; a different text raises the change.
    void SetText(const std::string& text);
    /// True while SetText (or the chooser through it) sets the text: a
    /// change then comes from it, not from the user's editing.
    bool Setting() const { return setting_; }
    void SetEnabled(bool enabled);

    /// Opens the folder picker on the edit's folder (the current folder when
    /// empty) below the edit; a confirmed folder that differs from the text
    /// becomes the text.
    void Browse();

    /// Where the chooser of the given size goes: its top-left at anchor (the
    /// edit's bottom-left), moved left by its width when it would pass the
    /// work area's right edge, and up to 64 pixels above the work area's
    /// bottom when it would reach that edge.
    static POINT ChooserPosition(POINT anchor, SIZE size, RECT workArea);

    static constexpr char ChooserTitle[] = "Select Directory";
    static constexpr int ButtonWidth = 18;

private:
    static LRESULT CALLBACK EditProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR self);
    class TChooserEvents;
    void PlaceChooser(HWND dialog) const;

    HWND edit_ = nullptr;
    HWND button_ = nullptr;
    HICON smallFolderIcon_ = nullptr;
    HICON largeFolderIcon_ = nullptr;
    bool setting_ = false;
};
