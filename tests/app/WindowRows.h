// The rows that each window's test drives: how the address field is
// entered before an address is typed, and when Upload is offered. Every
// window plays them through its own toolkit and must come to the same;
// nothing toolkit's belongs here.
#pragma once

#include <string>
#include <vector>

#include "app/WindowController.h"

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
