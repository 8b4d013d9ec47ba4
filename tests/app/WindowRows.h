// The rows that each window's test drives: how the address field is
// entered before an address is typed, when Upload is offered, what it
// refuses before the unit hears of it, what typing a folder scans, how far
// an image list opens, what a screen reader calls each control, and an
// Upload that the unit refuses. Every window plays them
// through its own toolkit and must come to the same; nothing toolkit's belongs here.
#pragma once

#include <string>
#include <vector>

#include "app/WindowController.h"
#include "app/WindowLayout.h"
#include "runtime/Files.h"
#include "runtime/Sha256.h"
#include "tests/support/ImageFolder.h"
#include "tools/unit-sim/UnitSim.h"

/// How the user enters the address field.
enum class TEntering {
    enClick,               // a click mid-field
    enActivatingClick,     // a click into a window that another one hid
    enTab,                 // Tab from the log
    enShiftTab,            // Shift+Tab back from Connect
    enFocusBackAfterEnter, // Enter connected (where no unit answers)
    enClickAfterEnter      // and then a click mid-field
};

struct TEnteringRow {
    const char* Name;
    TEntering How;
    const char* Typed; // then: the field reads EnteredAddress
};

/// However the field was entered, the address typed replaces the one it held.
inline constexpr const char* EnteredAddress = "127.000.000.002";
inline constexpr TEnteringRow EnteringRows[] = {
    {"a click mid-field", TEntering::enClick, "127000000002"},
    {"a click that also activates the window", TEntering::enActivatingClick, "127.0.0.2"},
    {"Tab from the log", TEntering::enTab, "127.0.0.2"},
    {"Shift+Tab back from Connect", TEntering::enShiftTab, "127000000002"},
    {"the focus back after Enter", TEntering::enFocusBackAfterEnter, "127000000002"},
    {"a click after Enter", TEntering::enClickAfterEnter, "127.0.0.2"},
};

/// The address field set to Address (and Connect pressed when Connect):
/// whether Upload is offered, and the status label then.
struct TOfferRow {
    const char* Name;
    std::string Address;
    bool Connect;
    bool Offered;
    std::string Status;
};

/// For a window connected to the unit at connected, with a unit at other too.
inline std::vector<TOfferRow> OfferRows(const std::string& connected, const std::string& other) {
    return {
        {"another unit's address", other, false, false, TWindowController::ConnectHint},
        {"the connected unit's again", connected, false, true, "Connected"},
        {"another unit's, connected", other, true, true, "Connected"},
    };
}

/// An Upload from Folder, after Sha256Sums (when not empty) was written into
/// the image folder as SHA256SUMS: the error box it opens (none when
/// empty), how the log's last line and the status label begin, and whether
/// the images went (else the unit got no command).
struct TRefusalRow {
    const char* Name;
    std::string Folder;
    std::string Sha256Sums;
    std::string Box;
    std::string Ends;
    bool Sent;
};

/// For images, a folder that holds pagesV1.bin and boot.bin, and empty, one
/// that holds no image.
inline std::vector<TRefusalRow> RefusalRows(const std::string& images, const std::string& empty) {
    const std::string pages = FileSha256(images + "pagesV1.bin");
    const std::string program = FileSha256(images + "boot.bin");
    const std::string wrong(64, '0');
    const auto sums = [&](const std::string& programSha) {
        return pages + "  pagesV1.bin\n" + programSha + "  boot.bin\n";
    };
    return {
        {"no image chosen", empty, "", "", TWindowController::NothingToUpload, false},
        {"SHA256SUMS lists another digest", images, sums(wrong),
         "boot.bin has SHA-256 " + program + ", but " + images + "SHA256SUMS lists " + wrong + ".",
         "Failed at image check: boot.bin has SHA-256 " + program, false},
        {"SHA256SUMS lists both as they are", images, sums(program), "", "Update successful", true},
    };
}

/// A folder whose own short.bin stops a scan ("Read beyond end of file"),
/// with a program image in the folder images below it: typed key by key,
/// the path of the one passes the other.
struct TStoppingFolder {
    TTempFolder Outer;
    TStoppingFolder() {
        Outer.Write("short.bin", std::vector<std::uint8_t>(10, 1));
        Outer.Write("images" + std::string(1, PathDelim) + "boot.bin", ImageBytes(false, 1, 3000));
    }
};

/// The folder edit emptied and Typed into key by key, then Enter pressed
/// (else typing pauses): whether the scan's box opens, with the log's line
/// naming the file (ScanStopped), and how many program images are listed.
struct TTypingRow {
    const char* Name;
    std::string Typed;
    bool Enter;
    bool Box;
    int Programs;
};

inline constexpr const char* ScanStopped = "Scan stopped at short.bin: Read beyond end of file";

inline std::vector<TTypingRow> TypingRows(const TStoppingFolder& folder) {
    return {
        {"typed past a folder that stops the scan", folder.Outer.Path() + "images", false, false,
         1},
        {"typed to that folder, and paused", folder.Outer.Path(), false, true, 0},
        {"typed to that folder, and Enter", folder.Outer.Path(), true, true, 0},
    };
}

/// An image list of Count entries, opened: the rows it shows, and whether a
/// scroll bar reaches the rest.
struct TOpenListRow {
    int Count;
    int Rows;
    bool ScrollBar;
};

inline constexpr TOpenListRow OpenListRows[] = {
    {5, 5, false},
    {TWindowLayout::DropDownRows, TWindowLayout::DropDownRows, false},
    {30, TWindowLayout::DropDownRows, true},
};

/// What a screen reader calls each control (its accessible name); the
/// status label is called StatusName.
struct TNameRow {
    TWindowControl Control;
    const char* Name;
};

inline constexpr TNameRow NameRows[] = {
    {TWindowControl::wcAddress, "IP address"},
    {TWindowControl::wcConnect, "Connect"},
    {TWindowControl::wcFolder, "Image folder"},
    {TWindowControl::wcFolderButton, "Choose the image folder"},
    {TWindowControl::wcWebPages, "Web-page image"},
    {TWindowControl::wcPrograms, "Program image"},
    {TWindowControl::wcUpload, "Upload"},
    {TWindowControl::wcLog, "Log"},
};

/// A unit at address that answers every write request with ERROR 2.
inline TUnitSimSettings RefusingUnit(const std::string& address) {
    TUnitSimSettings unit;
    unit.Address = address;
    unit.ErrorCode = 2;
    unit.ErrorText = "Access violation";
    return unit;
}

/// The log after an Upload of pagesV1.bin and boot.bin to RefusingUnit; its
/// last line is the status label's text too, in the error colour.
inline const std::vector<std::string> RefusedUploadLog = {
    "Rebooting unit", "Uploading Web page file pagesV1.bin", "Web pages transfer error",
    "Failed at web pages: Access violation"};
