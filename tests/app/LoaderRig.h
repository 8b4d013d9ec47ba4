// What the loader's tests share: a window and its loader wired as a front
// end wires them, the home page marker, a unit's settings at an address.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/Loader.h"
#include "tests/app/RecordingWindow.h"
#include "tools/unit-sim/UnitSim.h"

using Lines = std::vector<std::string>;
using std::chrono::steady_clock;

inline std::string Marker(const std::string& revision) {
    return "<html><script>var g_HwId = \"" + revision + "\";</script></html>";
}

/// A window and its loader, wired as a front end wires them.
struct TRig {
    TRecordingWindow Window;
    TLoader Loader{Window};
    explicit TRig(const std::string& address) {
        Window.Address = address;
        Window.OnDirEditChange = [this] { Loader.direditChange(); };
    }
};

inline TUnitSimSettings UnitAt(const std::string& address) {
    TUnitSimSettings s;
    s.Address = address;
    return s;
}
