// The rows that each window's test drives: how the address field is
// entered before an address is typed, when Upload is offered, and what it
// refuses before the unit hears of it. Every window plays them through its
// own toolkit and must come to the same; nothing toolkit's belongs here.
#pragma once

#include <string>
#include <vector>

#include "app/WindowController.h"
#include "runtime/Sha256.h"

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
