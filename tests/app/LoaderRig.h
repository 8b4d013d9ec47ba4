// What the loader's tests share: a window and its loader wired as a front
// end wires them, the home page marker, a unit's settings at an address, a
// folder with a pair of images.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/Loader.h"
#include "tests/app/RecordingWindow.h"
#include "tests/support/ImageFolder.h"
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

/// A unit at address; its images go to store (a folder of the unit's own
/// when empty).
inline TUnitSimSettings UnitAt(const std::string& address, const std::string& store = {}) {
    TUnitSimSettings s;
    s.Address = address;
    s.Store = store;
    return s;
}

/// A folder with a web-page image for the revision and a program image.
struct TImages {
    TTempFolder Folder;
    std::string PagesName;
    std::vector<std::uint8_t> Pages = ImageBytes(true, 0, 20000);
    std::vector<std::uint8_t> Program = ImageBytes(false, 1, 7000);
    explicit TImages(int revision) : PagesName(revision == 171 ? "pagesV1.bin" : "pagesV4.bin") {
        Folder.Write(PagesName, Pages);
        Folder.Write("prog.bin", Program);
    }
};
