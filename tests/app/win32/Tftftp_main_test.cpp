// The window on the Windows GUI as a user meets it, driven through window
// messages on a virtual display: the start-up layout, the tab order, the
// address field's keys and however it is entered, Connect and an Upload
// against the simulated unit (a Linux program that ctest starts beside this
// one; LOADER_TEST_UNIT names its address and LOADER_TEST_UNIT_STORE the
// folder of the images it stored), the error box, the log's text, the
// status label's outcome, and against units that unit-sim-host runs, which
// tell what the loader sent them: a run's button as its Cancel, Upload
// offered only for the unit connected and what it refuses before any
// command; and a close during a run with its question.
#include "app/win32/Tftftp_main.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "app/WindowLayout.h"
#include "app/win32/WindowText.h"
#include "tests/app/WindowRows.h"
#include "tests/support/ImageFolder.h"
#include "tools/unit-sim/UnitSim.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TLines = std::vector<std::string>;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
}

/// A path of the Linux side as this program reaches it: through drive Z:.
std::string LinuxPath(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

/// A folder of the test's own on the Linux side, reached through drive Z:,
/// with a folder "inner" in it.
struct TLinuxFolder {
    std::string Path; // ending in "\\"
    TLinuxFolder() {
        std::random_device random;
        Path = LinuxPath("/tmp/loader-test-" + std::to_string(random()) + "/");
        std::filesystem::create_directories(Path + "inner");
    }
    ~TLinuxFolder() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    TLinuxFolder(const TLinuxFolder&) = delete;
    TLinuxFolder& operator=(const TLinuxFolder&) = delete;
};

/// Handles the thread's messages until done() holds or bound has passed.
bool PumpUntil(const std::function<bool()>& done, Clock::duration bound = 10s) {
    const auto end = Clock::now() + bound;
    MSG msg{};
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

/// PumpUntil through the window's own pump, which takes the keys the window
/// handles itself (Tab, Enter, the log's Copy).
bool PumpWindowUntil(Tftftp_main& window, const std::function<bool()>& done,
                     Clock::duration bound = 10s) {
    for (const auto end = Clock::now() + bound; !done(); window.PumpMessages()) {
        if (Clock::now() >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(Clock::duration time) {
    const auto end = Clock::now() + time;
    PumpUntil([&] { return Clock::now() >= end; }, time + 1s);
}

constexpr const char* NoUnitHost =
    "no unit-sim-host (LOADER_UNIT_SIM_HOST): scripts/test-windows.sh runs one";

/// Whether unit-sim-host runs simulated units for the test.
bool UnitHostRuns() {
    return !Env("LOADER_UNIT_SIM_HOST").empty();
}

/// A unit of revision 171 at address that tells what it was sent, run by
/// unit-sim-host, listening.
std::unique_ptr<TUnitSim> StartedUnit(const std::string& address) {
    TUnitSimSettings settings;
    settings.Address = address;
    auto unit = std::make_unique<TUnitSim>(settings);
    unit->Start();
    return unit;
}

/// When scripts/screenshot-windows.sh runs the test, it takes the window's
/// picture now, naming it by name.
void Picture(const std::string& name) {
    const std::string ready = Env("LOADER_SCREENSHOT_READY");
    if (ready.empty())
        return;
    // Whole or not at all: the script reads the name as soon as it is there.
    std::ofstream(LinuxPath(ready + ".new")) << name << "\n";
    std::filesystem::rename(LinuxPath(ready + ".new"), LinuxPath(ready));
    PumpUntil([&] { return !std::filesystem::exists(LinuxPath(ready)); }, 30s);
}

/// A click of the left button x pixels into control, halfway down, as real
/// mouse input: it reaches the window once the thread's messages are handled.
void ClickInto(HWND control, int x) {
    RECT place{};
    GetWindowRect(control, &place);
    SetCursorPos(place.left + x, (place.top + place.bottom) / 2);
    INPUT press[2]{};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, press, sizeof(INPUT));
}

/// Presses keys as real keyboard input, each held until those after it are
/// released: {VK_CONTROL, 'C'} is Ctrl+C.
void PressChord(const std::vector<WORD>& keys) {
    std::vector<INPUT> input(2 * keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        input[i].type = input[input.size() - 1 - i].type = INPUT_KEYBOARD;
        input[i].ki.wVk = input[input.size() - 1 - i].ki.wVk = keys[i];
        input[input.size() - 1 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

/// The selection of an edit: its start and its end.
std::pair<DWORD, DWORD> SelectionOf(HWND edit) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

/// The characters, as typed into edit.
void TypeInto(HWND edit, const std::string& chars) {
    for (const char c : chars)
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
}

struct TBox {
    std::string caption, text;
    bool errorIcon = false;
    TLines buttons; // the visible ones
    bool hasEdit = false;
    TLines listed; // a file dialog's items: the folder it shows
    RECT place{};
};

/// Reads every dialog with the given caption that this process opens, and
/// answers it with command (the id of the button pressed): a user who
/// answers each at once.
class TDialogAnswerer {
public:
    explicit TDialogAnswerer(std::string caption, int command = IDOK)
        : caption_(std::move(caption)), command_(command), thread_([this] { Watch(); }) {}
    /// Answers the boxes from now on with command.
    void AnswerWith(int command) { command_ = command; }
    /// Types name into a file dialog's file name before answering it.
    void TypeFileName(const std::string& name) {
        std::lock_guard lock(mutex_);
        fileName_ = name;
    }
    ~TDialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<TBox> Boxes() {
        std::lock_guard lock(mutex_);
        return boxes_;
    }

private:
    void Watch() {
        while (!stop_) {
            EnumWindows(
                [](HWND hwnd, LPARAM self) -> BOOL {
                    reinterpret_cast<TDialogAnswerer*>(self)->Answer(hwnd);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
            std::this_thread::sleep_for(20ms);
        }
    }
    void Answer(HWND hwnd) {
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        char windowClass[64] = {};
        GetClassNameA(hwnd, windowClass, sizeof windowClass);
        if (process != GetCurrentProcessId() || std::string(windowClass) != "#32770" ||
            !IsWindowVisible(hwnd) || WindowText(hwnd) != caption_)
            return;
        TBox box{WindowText(hwnd), "", false, {}, false, {}, {}};
        GetWindowRect(hwnd, &box.place);
        // A file dialog shows its folder's items once it has read them.
        for (int i = 0; i < 100 && Items(hwnd) && Items(hwnd)->empty(); ++i)
            std::this_thread::sleep_for(20ms);
        box.listed = Items(hwnd).value_or(TLines{});
        EnumChildWindows(
            hwnd,
            [](HWND child, LPARAM found) -> BOOL {
                auto& box = *reinterpret_cast<TBox*>(found);
                char childClass[64] = {};
                GetClassNameA(child, childClass, sizeof childClass);
                const std::string name = childClass;
                const auto style = GetWindowLongA(child, GWL_STYLE);
                if (_stricmp(name.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
                    box.errorIcon =
                        reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) ==
                        LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND));
                else if (_stricmp(name.c_str(), "Static") == 0 && !WindowText(child).empty())
                    box.text = WindowText(child);
                else if (_stricmp(name.c_str(), "Button") == 0 && IsWindowVisible(child))
                    box.buttons.push_back(WindowText(child));
                else if (_stricmp(name.c_str(), "Edit") == 0 && IsWindowVisible(child))
                    box.hasEdit = true;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&box));
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back(box);
            // A file dialog's file name: an edit, or a combo box with one.
            constexpr int FileNameEdit = 0x480, FileNameCombo = 0x47c; // edt1, cmb13
            if (!fileName_.empty())
                SetDlgItemTextW(hwnd,
                                GetDlgItem(hwnd, FileNameCombo) ? FileNameCombo : FileNameEdit,
                                WideText(fileName_).c_str());
        }
        // A click on the button, where there is one: a file dialog takes
        // nothing else for its OK.
        if (const HWND button = GetDlgItem(hwnd, command_))
            PostMessageA(button, BM_CLICK, 0, 0);
        else
            PostMessageA(hwnd, WM_COMMAND, static_cast<WPARAM>(command_), 0);
        // Give the dialog the time to go before the next look.
        for (int i = 0; i < 100 && IsWindow(hwnd); ++i)
            std::this_thread::sleep_for(10ms);
    }

    /// The names of the items of dialog's list view; none without one.
    static std::optional<TLines> Items(HWND dialog) {
        std::optional<TLines> items;
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM found) -> BOOL {
                char childClass[64] = {};
                GetClassNameA(child, childClass, sizeof childClass);
                if (std::string_view(childClass) != "SysListView32")
                    return TRUE;
                auto& items = *reinterpret_cast<std::optional<TLines>*>(found);
                items.emplace();
                const auto count = SendMessageW(child, LVM_GETITEMCOUNT, 0, 0);
                for (int i = 0; i < count; ++i) {
                    wchar_t text[MAX_PATH] = {};
                    LVITEMW item{};
                    item.pszText = text;
                    item.cchTextMax = MAX_PATH;
                    SendMessageW(child, LVM_GETITEMTEXTW, static_cast<WPARAM>(i),
                                 reinterpret_cast<LPARAM>(&item));
                    items->push_back(Utf8Text(text));
                }
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&items));
        return items;
    }

    const std::string caption_;
    std::atomic<int> command_;
    std::mutex mutex_;
    std::vector<TBox> boxes_;
    std::string fileName_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.Show();
        SetForegroundWindow(window.Handle());
        PumpFor(100ms);
    }
    void TearDown() override {
        // A close posts the quit of the program's message loop; no later
        // test may find it.
        MSG msg{};
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    TLines Log() const {
        TLines lines;
        const auto count = SendMessageA(window.ListBox1, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; ++i) {
            std::string line(
                static_cast<std::size_t>(SendMessageA(window.ListBox1, LB_GETTEXTLEN, i, 0)), '\0');
            SendMessageA(window.ListBox1, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
            lines.push_back(line);
        }
        return lines;
    }

    /// Puts the address into the field as a paste of the whole text would,
    /// and leaves the field for the log.
    void EnterAddress(const std::string& address) {
        SetFocus(window.ipedit->Handle());
        SendMessageA(window.ipedit->Handle(), EM_SETSEL, 0, -1);
        ASSERT_TRUE(SetClipboardText(window.Handle(), address));
        SendMessageA(window.ipedit->Handle(), WM_PASTE, 0, 0);
        SetFocus(window.ListBox1);
        PumpFor(50ms);
    }

    /// Connects to the unit at address, and points the folder edit at folder.
    void ConnectTo(const std::string& address, const std::string& folder) {
        EnterAddress(address);
        SendMessageA(window.connectbut, BM_CLICK, 0, 0);
        EXPECT_EQ(Log().back(), "Connected, H/W revision 171");
        SetWindowTextW(window.diredit->Edit(), WideText(folder).c_str());
    }

    Tftftp_main window;
    TDialogAnswerer answerer{ApplicationTitleText};
};

/// A folder with a web-page image of revision 171 and a program image.
struct TImagePair {
    TTempFolder Folder;
    TImagePair() {
        Folder.Write("pagesV1.bin", ImageBytes(true, 0, 1500));
        Folder.Write("boot.bin", ImageBytes(false, 1, 3000));
    }
};

/// The place of a control in its parent's client area, and its size.
RECT PlaceOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

LOGFONTA FontOf(HWND control) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font;
}

/// Whether inner stands centred over outer, to a pixel or two of rounding.
bool CentredOver(const RECT& inner, const RECT& outer) {
    return std::abs((inner.left + inner.right) - (outer.left + outer.right)) <= 2 &&
           std::abs((inner.top + inner.bottom) - (outer.top + outer.bottom)) <= 2;
}

/// The work area of the monitor that window is on.
RECT WorkAreaOf(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

/// The colour in which the status label writes its text.
COLORREF StatusTextColour(const Tftftp_main& window) {
    const HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(const_cast<Tftftp_main&>(window).Handle(), WM_CTLCOLORSTATIC,
                 reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window.statuslab));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

/// Runs tick on the thread's message queue every 20 ms while it lives: in
/// the pumps of a run, as a user's clicks and keys come.
class TTicker {
public:
    explicit TTicker(std::function<void()> tick) {
        Tick() = std::move(tick);
        timer_ = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { Tick()(); });
    }
    ~TTicker() {
        KillTimer(nullptr, timer_);
        Tick() = nullptr;
    }

private:
    static std::function<void()>& Tick() {
        static std::function<void()> tick;
        return tick;
    }
    UINT_PTR timer_ = 0;
};

/// The window's layout, for the DPI it announces: tests of these run again
/// on a display of 192 DPI (win32_window_tests_192dpi).
class Win32WindowLayout : public Win32WindowTest {
protected:
    /// A length of the layout of 96 DPI at the window's DPI.
    int Scaled(int length) const { return MulDiv(length, window.Dpi(), 96); }

    /// Every control where the layout of 96 DPI, scaled, puts it; the
    /// address row's label and field wider, and what follows them further
    /// right, where their texts need it.
    void ExpectTheLayout() const {
        const HWND main = window.Handle();
        RECT client{};
        GetClientRect(main, &client);
        EXPECT_EQ(client.right, Scaled(TWindowLayout::ClientWidth));
        EXPECT_EQ(client.bottom, Scaled(TWindowLayout::ClientHeight));
        enum TGrowth { gNone, gWider, gMovedRight };
        using L = TWindowLayout;
        const TLayoutRect folder = L::Folder;
        constexpr int button = L::FolderButtonWidth;
        struct Row {
            const char* name;
            HWND control, parent;
            TLayoutRect place; // at 96 DPI
            TGrowth growth;
            int fontPoints;
        } rows[] = {
            {"statuslab", window.statuslab, main, L::Status, gWider, 10},
            {"Label1", window.Label1, main, L::AddressLabel, gWider, 8},
            {"ListBox1", window.ListBox1, main, L::Log, gNone, 8},
            {"ipedit", window.ipedit->Handle(), main, L::Address, gWider, 8},
            {"connectbut", window.connectbut, main, L::Connect, gMovedRight, 8},
            {"filegroup", window.filegroup, main, L::FileGroup, gNone, 0},
            {"filegroup frame",
             GetWindow(window.filegroup, GW_CHILD),
             window.filegroup,
             {0, 0, L::FileGroup.Width, L::FileGroup.Height},
             gNone,
             8},
            {"diredit",
             window.diredit->Edit(),
             window.filegroup,
             {folder.Left, folder.Top, folder.Width - button, folder.Height},
             gNone,
             8},
            {"browse button",
             window.diredit->BrowseButton(),
             window.filegroup,
             {folder.Right() - button, folder.Top, button, folder.Height},
             gNone,
             0},
            {"file1edit", window.file1edit, window.filegroup, L::WebPages, gNone, 8},
            {"file2edit", window.file2edit, window.filegroup, L::Programs, gNone, 8},
            {"uploadbut", window.uploadbut, window.filegroup, L::Upload, gNone, 8},
            {"transferbar", window.transferbar, main, L::TransferBar, gNone, 0},
        };
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            EXPECT_EQ(GetParent(r.control), r.parent);
            const RECT at = PlaceOf(r.control);
            const RECT want{Scaled(r.place.Left), Scaled(r.place.Top),
                            Scaled(r.place.Right()) - Scaled(r.place.Left),
                            Scaled(r.place.Bottom()) - Scaled(r.place.Top)};
            EXPECT_EQ(at.top, want.top);
            if (r.growth == gNone) {
                EXPECT_EQ(at.left, want.left);
                EXPECT_NEAR(at.right, want.right, 1); // scaled width or scaled right end
                EXPECT_NEAR(at.bottom, want.bottom, 1);
            } else if (r.growth == gWider) {
                EXPECT_GE(at.left, want.left);
                EXPECT_GE(at.right, want.right);
                EXPECT_GE(at.bottom, want.bottom);
            } else {
                EXPECT_GE(at.left, want.left);
                EXPECT_EQ(at.right, want.right);
                EXPECT_EQ(at.bottom, want.bottom);
            }
            if (r.fontPoints != 0) {
                EXPECT_STREQ(FontOf(r.control).lfFaceName, "Tahoma");
                EXPECT_EQ(FontOf(r.control).lfHeight, -MulDiv(r.fontPoints, window.Dpi(), 72));
            }
        }
    }

    /// Every text whole in its control, measured in the control's own font:
    /// what the user could not read otherwise ("IP Add", "00.100", lines of
    /// the log drawn over each other).
    void ExpectEveryTextFits() {
        window.SetStatus("Done");
        const auto clientOf = [](HWND control) {
            RECT client{};
            GetClientRect(control, &client);
            return client;
        };
        enum TKind { kStatic, kEdit, kButton, kGroup };
        const HWND frame = GetWindow(window.filegroup, GW_CHILD);
        std::string blanks = AddressPattern;
        std::replace(blanks.begin(), blanks.end(), '0', '_');
        const struct {
            const char* name;
            HWND control;
            TKind kind;
            std::string text;
        } rows[] = {
            {"Label1", window.Label1, kStatic, WindowText(window.Label1)},
            {"statuslab", window.statuslab, kStatic, WindowText(window.statuslab)},
            {"ipedit", window.ipedit->Handle(), kEdit, WindowText(window.ipedit->Handle())},
            {"ipedit, every digit blank", window.ipedit->Handle(), kEdit, blanks},
            {"connectbut", window.connectbut, kButton, WindowText(window.connectbut)},
            {"uploadbut", window.uploadbut, kButton, WindowText(window.uploadbut)},
            {"uploadbut as the run's Cancel", window.uploadbut, kButton,
             TWindowController::CancelCaption},
            {"filegroup frame", frame, kGroup, WindowText(frame)},
            {"diredit", window.diredit->Edit(), kEdit, "C:\\"},
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(r.name);
            ASSERT_FALSE(r.text.empty());
            const SIZE text = TextExtent(r.control, r.text);
            RECT room = clientOf(r.control);
            if (r.kind == kEdit) {
                const auto margins =
                    static_cast<DWORD>(SendMessageA(r.control, EM_GETMARGINS, 0, 0));
                room.right -= LOWORD(margins) + HIWORD(margins) + 1; // and the caret
            } else if (r.kind == kButton) {
                InflateRect(&room, -2, -2); // the button's edges
            } else if (r.kind == kGroup) {
                room.right -= 2 * 8; // the caption starts inside the frame's corner
            }
            EXPECT_GE(room.right - room.left, text.cx);
            EXPECT_GE(room.bottom - room.top, text.cy);
        }
        // Lines: the log's, and the drop-down lists' closed and open ones.
        const LONG line = TextExtent(window.ListBox1, "Ag").cy;
        EXPECT_GE(SendMessageA(window.ListBox1, LB_GETITEMHEIGHT, 0, 0), line);
        for (const HWND list : {window.file1edit, window.file2edit}) {
            EXPECT_GE(SendMessageA(list, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0), line);
            EXPECT_GE(SendMessageA(list, CB_GETITEMHEIGHT, 0, 0), line);
            RECT closed{};
            GetWindowRect(list, &closed);
            EXPECT_NEAR(closed.bottom - closed.top, Scaled(21), 1); // as high as the edits
        }
        // And no control over another: in the window, and in the group.
        for (const HWND parent : {window.Handle(), window.filegroup}) {
            std::vector<RECT> places;
            for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
                if (c != frame)
                    places.push_back(PlaceOf(c));
            for (std::size_t i = 0; i < places.size(); ++i)
                for (std::size_t j = i + 1; j < places.size(); ++j) {
                    const RECT& a = places[i];
                    const RECT& b = places[j];
                    EXPECT_TRUE(a.left + a.right <= b.left || b.left + b.right <= a.left ||
                                a.top + a.bottom <= b.top || b.top + b.bottom <= a.top)
                        << i << " and " << j;
                }
        }
    }
};

TEST_F(Win32WindowLayout, StartsWithTheLayoutOfItsMonitorsDpi) {
    const HWND main = window.Handle();
    EXPECT_EQ(WindowText(main), "TFTP Upload Utility");
    // Aware of each monitor's DPI (the program's manifest): the system
    // neither stretches the window nor keeps it at 96 DPI.
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(main)),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    EXPECT_EQ(window.Dpi(), static_cast<int>(GetDpiForWindow(main)));
    const std::string asked = Env("LOADER_TEST_DPI");
    EXPECT_EQ(window.Dpi(), asked.empty() ? 96 : std::stoi(asked));
    // Centred on its monitor.
    RECT frame{};
    GetWindowRect(main, &frame);
    EXPECT_TRUE(CentredOver(frame, WorkAreaOf(main)));
    // A task-bar button of its own: no owner, and asked for, with the
    // program's icon (resource 1) in both sizes, not the system's stock one.
    EXPECT_EQ(GetWindow(main, GW_OWNER), nullptr);
    EXPECT_TRUE(GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    const HICON stock = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    struct {
        int index, size;
    } const icons[] = {{GCLP_HICON, GetSystemMetrics(SM_CXICON)},
                       {GCLP_HICONSM, GetSystemMetrics(SM_CXSMICON)}};
    for (const auto& icon : icons) {
        SCOPED_TRACE(icon.size);
        const auto handle = reinterpret_cast<HICON>(GetClassLongPtrW(main, icon.index));
        const auto program =
            static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                          IMAGE_ICON, icon.size, icon.size, LR_SHARED));
        ASSERT_NE(program, nullptr);
        EXPECT_NE(handle, stock);
        EXPECT_EQ(handle, program);
    }
    ExpectTheLayout();
    ExpectEveryTextFits();
    if (window.Dpi() == 96) { // the address row as designed, the field wide enough
        EXPECT_EQ(PlaceOf(window.ipedit->Handle()).left, 78);
        EXPECT_EQ(PlaceOf(window.connectbut).left, 200);
    }

    for (const auto& [control, text] :
         {std::pair{window.Label1, "IP Address:"},
          std::pair{window.ipedit->Handle(), DefaultAddress},
          std::pair{window.connectbut, "Connect"}, std::pair{window.uploadbut, "Upload"},
          std::pair{GetWindow(window.filegroup, GW_CHILD), "Select Files"}})
        EXPECT_EQ(WindowText(control), text);
    // The status label writes in blue on the window's colour.
    EXPECT_EQ(StatusTextColour(window), RGB(0, 0, 255));

    EXPECT_FALSE(IsWindowVisible(window.filegroup));
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(IsWindowVisible(window.transferbar));
    for (HWND list : {window.file1edit, window.file2edit})
        EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
}

TEST_F(Win32WindowLayout, StatusTellsWhyInWordsFirstWithTheWholeInItsTooltip) {
    // A Connect where nothing answers: the service's number and its words.
    EnterAddress("127.0.42.8");
    SendMessageA(window.connectbut, BM_CLICK, 0, 0);
    const std::string status = window.StatusText();
    EXPECT_EQ(status, StatusOfOutcome(window.Loader().Outcome()));
    EXPECT_EQ(status.rfind("Failed at connect: ", 0), 0u) << status;
    EXPECT_NE(status, Log().back()); // the log's line, its number first, as it was
    EXPECT_EQ(WindowText(window.statuslab), status);
    EXPECT_EQ(StatusTextColour(window), RGB(0xc0, 0, 0));
    // From the left of the strip under the log to its right end, cut short
    // at its end: the step and the cause's first words show, and the
    // tooltip holds the whole.
    const RECT label = PlaceOf(window.statuslab);
    EXPECT_GE(label.left, PlaceOf(window.transferbar).left);
    EXPECT_EQ(label.left + label.right,
              PlaceOf(window.ListBox1).left + PlaceOf(window.ListBox1).right);
    EXPECT_TRUE(GetWindowLongA(window.statuslab, GWL_STYLE) & SS_ENDELLIPSIS);
    const std::size_t cause = status.find(": ") + 2;
    const std::string firstWords = status.substr(0, status.find(' ', status.find(' ', cause) + 1));
    EXPECT_LE(TextExtent(window.statuslab, firstWords).cx, label.right);
    ASSERT_GT(TextExtent(window.statuslab, status).cx, label.right);
    EXPECT_EQ(window.ToolTips().Text(window.statuslab), status);
    // A status that fits has no tooltip.
    window.SetStatus("Done");
    EXPECT_EQ(window.ToolTips().Text(window.statuslab), "");
}

TEST_F(Win32WindowLayout, AnOpenImageListShowsItsRowsAndAScrollBarForMore) {
    window.SetFileGroupVisible(true);
    const auto item = SendMessageA(window.file2edit, CB_GETITEMHEIGHT, 0, 0);
    for (const TOpenListRow& row : OpenListRows) {
        SCOPED_TRACE(row.Count);
        window.ListClear(TImageList::ilPrograms);
        for (int i = 0; i < row.Count; ++i)
            window.ListAppend(TImageList::ilPrograms, "boot" + std::to_string(i) + ".bin");
        SendMessageA(window.file2edit, CB_SHOWDROPDOWN, TRUE, 0);
        COMBOBOXINFO open{};
        open.cbSize = sizeof open;
        ASSERT_TRUE(GetComboBoxInfo(window.file2edit, &open));
        EXPECT_TRUE(IsWindowVisible(open.hwndList));
        RECT list{};
        GetClientRect(open.hwndList, &list);
        EXPECT_EQ(list.bottom / item, row.Rows);
        SCROLLBARINFO bar{};
        bar.cbSize = sizeof bar;
        ASSERT_TRUE(GetScrollBarInfo(open.hwndList, OBJID_VSCROLL, &bar));
        EXPECT_EQ((bar.rgstate[0] & STATE_SYSTEM_INVISIBLE) == 0, row.ScrollBar);
        SendMessageA(window.file2edit, CB_SHOWDROPDOWN, FALSE, 0);
    }
}

TEST_F(Win32WindowLayout, FollowsItsMonitorToAnotherDpi) {
    // The system's word that the window's monitor has another DPI, with the
    // place it suggests: the window goes there and lays itself out anew.
    const int start = window.Dpi();
    for (const int dpi : {144, 192, start}) {
        SCOPED_TRACE(dpi);
        const RECT suggested{8, 16, 8 + MulDiv(700, dpi, 96), 16 + MulDiv(260, dpi, 96)};
        SendMessageA(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(window.Dpi(), dpi);
        RECT frame{};
        GetWindowRect(window.Handle(), &frame);
        EXPECT_EQ(frame.left, 8);
        EXPECT_EQ(frame.top, 16);
        ExpectTheLayout();
        ExpectEveryTextFits();
    }
}

TEST_F(Win32WindowTest, TabOrderWalksThroughTheShownControls) {
    const HWND main = window.Handle();
    const auto walk = [&] {
        std::vector<HWND> order{window.ListBox1};
        for (HWND at = GetNextDlgTabItem(main, window.ListBox1, FALSE);
             at != window.ListBox1 && order.size() < 20; at = GetNextDlgTabItem(main, at, FALSE))
            order.push_back(at);
        return order;
    };
    EXPECT_EQ(walk(),
              (std::vector<HWND>{window.ListBox1, window.ipedit->Handle(), window.connectbut}));
    window.SetFileGroupVisible(true);
    EXPECT_EQ(walk(),
              (std::vector<HWND>{window.ListBox1, window.ipedit->Handle(), window.connectbut,
                                 window.diredit->Edit(), window.diredit->BrowseButton(),
                                 window.file1edit, window.file2edit, window.uploadbut}));
}

/// What the accessibility interface (MSAA, which UI Automation reads for
/// these controls) gives of control: part of it, from get_accName or
/// get_accDescription.
std::string AccessibleText(HWND control,
                           HRESULT (STDMETHODCALLTYPE IAccessible::*part)(VARIANT, BSTR*)) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return "(none)";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    std::string result = "(none)";
    if ((object->*part)(self, &text) == S_OK && text != nullptr)
        result = Utf8Text(text);
    SysFreeString(text);
    object->Release();
    return result;
}

TEST_F(Win32WindowTest, EveryControlTellsAScreenReaderWhatItIs) {
    window.SetFileGroupVisible(true);
    for (const TNameRow& row : NameRows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(AccessibleText(window.Controls()[row.Control], &IAccessible::get_accName),
                  row.Name);
    }
    // The status label is called what it is; what it says is its description.
    window.SetStatus("Update successful");
    EXPECT_EQ(AccessibleText(window.statuslab, &IAccessible::get_accName), StatusName);
    EXPECT_EQ(AccessibleText(window.statuslab, &IAccessible::get_accDescription),
              "Update successful");
    // The browse button names the key that does the same in the edit.
    EXPECT_EQ(window.ToolTips().Text(window.diredit->BrowseButton()),
              "Choose the image folder (F4)");
}

TEST_F(Win32WindowTest, AddressFieldTakesItsKeys) {
    const HWND edit = window.ipedit->Handle();
    const auto chars = [&](const std::string& keys) {
        for (char c : keys)
            SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    };
    const auto key = [&](WPARAM virtualKey) { SendMessageA(edit, WM_KEYDOWN, virtualKey, 0); };
    struct Row {
        const char* name;
        int caret;
        std::function<void()> keys;
        const char* address;
    } rows[] = {
        {"digits and the dot key into an emptied field", 0,
         [&] {
             SendMessageA(edit, EM_SETSEL, 0, -1);
             key(VK_DELETE);
             chars("127.0.0.9");
         },
         "127.000.000.9  "},
        {"Ctrl+A selects all: the digits typed replace it", 5,
         [&] {
             chars("\x01"
                   "127000000002");
         },
         "127.000.000.002"},
        {"a letter is refused", 0, [&] { chars("a"); }, "192.168.100.100"},
        {"backspace", 3, [&] { chars("\b"); }, "19 .168.100.100"},
        {"delete", 0, [&] { key(VK_DELETE); }, " 92.168.100.100"},
        {"escape restores", 0,
         [&] {
             chars("99");
             key(VK_ESCAPE);
         },
         "192.168.100.100"},
        {"undo is no way round the rules", 0, [&] { SendMessageA(edit, WM_UNDO, 0, 0); },
         "192.168.100.100"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SetWindowTextA(edit, "192.168.100.100");
        SetFocus(window.connectbut);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, r.caret, r.caret);
        r.keys();
        EXPECT_EQ(window.ipedit->MaskedText(), r.address);
        SendMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0); // leave it as it was
    }
    EXPECT_TRUE(answerer.Boxes().empty());

    // A paste of a whole address fills the field group by group.
    EnterAddress("127.0.0.2");
    EXPECT_EQ(window.ReadAddress(), "127.000.000.002");

    // A changed field with an empty group cannot be left: the box names the
    // group, and the caret is back at its start. The click on Connect that
    // left it does nothing.
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 4, 7);
    key(VK_DELETE);
    SetFocus(window.connectbut);
    SendMessageA(window.connectbut, BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Boxes().empty() && GetFocus() == edit; }));
    const TBox box = answerer.Boxes().front();
    EXPECT_EQ(box.caption, "Tessik TFTP Loader");
    EXPECT_EQ(box.text, "The second group must be 0 to 255.");
    EXPECT_TRUE(box.errorIcon);
    EXPECT_EQ(box.buttons, TLines{"OK"});
    DWORD start = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(window.ReadAddress(), "127.   .000.002");
    // A digit that takes the group above 255 is refused where it is typed,
    // with the same box.
    chars("260");
    ASSERT_TRUE(PumpUntil([&] { return answerer.Boxes().size() == 2 && GetFocus() == edit; }));
    EXPECT_EQ(answerer.Boxes().back().text, "The second group must be 0 to 255.");
    EXPECT_EQ(window.ipedit->MaskedText(), "127.26 .000.002");
    // Enter closes the short group and connects to loopback; no unit is there.
    key(VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return !Log().empty() && !window.Loader().Busy(); }));
    const TLines log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Unable to Connect to 127.026.000.002");
    EXPECT_EQ(log[1].rfind("Failed at connect: ", 0), 0u) << log[1];
    EXPECT_EQ(window.ipedit->MaskedText(), "127.026.000.002");
    EXPECT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(log[1], OutcomeLine(window.Loader().Outcome()));
    // The log scrolls sideways to the end of the line, which is longer than it.
    EXPECT_GE(SendMessageA(window.ListBox1, LB_GETHORIZONTALEXTENT, 0, 0),
              TextExtent(window.ListBox1, log[1]).cx);
}

TEST_F(Win32WindowTest, AClickThatEntersTheAddressFieldSelectsIt) {
    // Real mouse input, as the user's click mid-field: the address typed
    // then replaces the old one.
    const HWND edit = window.ipedit->Handle();
    const auto click = [&](int x) { ClickInto(edit, x); };
    const auto selection = [&] { return SelectionOf(edit); };
    SetFocus(window.ListBox1);
    click(50);
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == edit && selection().second == 15; }));
    EXPECT_EQ(selection().first, 0u);
    for (const char c : std::string("127000000002"))
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    EXPECT_EQ(window.ipedit->MaskedText(), "127.000.000.002");
    // A click in the field it is already in places the caret.
    click(4);
    ASSERT_TRUE(PumpUntil([&] { return selection().second < 3; }));
    EXPECT_EQ(selection().first, selection().second);
}

TEST(Win32AddressField, HoweverItIsEnteredTheAddressTypedReplacesIt) {
    TDialogAnswerer answerer{ApplicationTitleText};
    // Handles the thread's messages as the program's loop does, Tab and
    // Shift+Tab included, until done() holds or 10 s have passed.
    const auto pumpUntil = [](Tftftp_main& w, const std::function<bool()>& done) {
        for (const auto end = Clock::now() + 10s; !done(); w.PumpMessages()) {
            if (Clock::now() >= end)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return true;
    };
    const auto click = [&](Tftftp_main& w) {
        const HWND edit = w.ipedit->Handle();
        ClickInto(edit, 50);
        EXPECT_TRUE(
            pumpUntil(w, [&] { return GetFocus() == edit && SelectionOf(edit).second == 15; }));
    };
    const auto tab = [&](Tftftp_main& w, HWND from, bool shift) {
        SetFocus(from);
        INPUT keys[4]{};
        for (INPUT& key : keys)
            key.type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[3].ki.wVk = VK_SHIFT;
        keys[1].ki.wVk = keys[2].ki.wVk = VK_TAB;
        keys[2].ki.dwFlags = keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(shift ? 4 : 2, shift ? keys : keys + 1, sizeof(INPUT));
        EXPECT_TRUE(pumpUntil(w, [&] { return GetFocus() == w.ipedit->Handle(); }));
    };
    const auto enter = [&](Tftftp_main& w, TEntering how) {
        switch (how) {
        case TEntering::enActivatingClick: {
            const HWND other =
                CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_BORDER, 900, 700, 100,
                                50, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
            SetForegroundWindow(other);
            PumpFor(100ms);
            click(w);
            DestroyWindow(other);
            return;
        }
        case TEntering::enTab:
            tab(w, w.ListBox1, false);
            return;
        case TEntering::enShiftTab:
            tab(w, w.connectbut, true);
            return;
        case TEntering::enFocusBackAfterEnter:
        case TEntering::enClickAfterEnter:
            // Enter connects where nothing answers; the focus comes back.
            click(w);
            TypeInto(w.ipedit->Handle(), "127.0.42.9");
            SendMessageA(w.ipedit->Handle(), WM_KEYDOWN, VK_RETURN, 0);
            EXPECT_TRUE(pumpUntil(w, [&] {
                return SendMessageA(w.ListBox1, LB_GETCOUNT, 0, 0) == 2 && !w.Loader().Busy();
            }));
            if (how == TEntering::enFocusBackAfterEnter)
                return;
            [[fallthrough]];
        case TEntering::enClick:
            click(w);
            return;
        }
    };
    for (const TEnteringRow& row : EnteringRows) {
        SCOPED_TRACE(row.Name);
        Tftftp_main window;
        window.Show();
        SetForegroundWindow(window.Handle());
        PumpFor(100ms);
        enter(window, row.How);
        const HWND edit = window.ipedit->Handle();
        ASSERT_EQ(GetFocus(), edit);
        TypeInto(edit, row.Typed);
        EXPECT_EQ(window.ReadAddress(), EnteredAddress);
        // Typed into, the field places the caret where it is clicked.
        ClickInto(edit, 4);
        EXPECT_TRUE(pumpUntil(window, [&] { return SelectionOf(edit).second < 3; }));
        EXPECT_EQ(SelectionOf(edit).first, SelectionOf(edit).second);
    }
    EXPECT_TRUE(answerer.Boxes().empty());
}

/// Opens the log's menu from the keyboard and picks its item at (1 for the
/// first) with the arrow keys and Enter, as a user would.
void PickFromLogMenu(Tftftp_main& window, int item) {
    bool picked = false;
    const TTicker user([&] {
        const HWND menu = FindWindowA("#32768", nullptr);
        if (picked || menu == nullptr || !IsWindowVisible(menu))
            return;
        picked = true;
        for (int i = 0; i < item; ++i)
            PressChord({VK_DOWN});
        PressChord({VK_RETURN});
    });
    SetFocus(window.ListBox1);
    SendMessageA(window.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window.ListBox1),
                 MAKELPARAM(-1, -1));
    EXPECT_TRUE(picked);
}

TEST_F(Win32WindowTest, LogMenuAndKeysCopyAndSave) {
    for (const char* line : {"Rebooting unit", "Uploading Web page file pages.bin", "Done"})
        window.LogLine(line);
    // The selection the log shows is what Copy takes.
    SendMessageA(window.ListBox1, LB_SETSEL, TRUE, 1);
    PickFromLogMenu(window, 1);
    EXPECT_EQ(ClipboardText(window.Handle()), "Uploading Web page file pages.bin\r\n");
    // The keys copy what the menu does: with none selected, every line.
    SendMessageA(window.ListBox1, LB_SETSEL, FALSE, -1);
    SetClipboardText(window.Handle(), "");
    SetFocus(window.ListBox1);
    PressChord({VK_CONTROL, 'C'});
    const std::string all = "Rebooting unit\r\nUploading Web page file pages.bin\r\nDone\r\n";
    PumpWindowUntil(
        window, [&] { return ClipboardText(window.Handle()) == all; }, 5s);
    EXPECT_EQ(ClipboardText(window.Handle()), all);

    // Save As writes every line to the file named in its dialog.
    TTempFolder folder;
    // A name typed without an extension is a text file.
    TDialogAnswerer saveAs("Save As");
    saveAs.TypeFileName(folder.Path() + "log");
    PickFromLogMenu(window, 2);
    EXPECT_EQ(saveAs.Boxes().size(), 1u);
    const auto saved = FileBytes(folder.Path() + "log.txt");
    EXPECT_EQ(std::string(saved.begin(), saved.end()), all);
}

TEST_F(Win32WindowTest, TheReadmeWalkThroughUpdatesTheUnit) {
    const std::string unit = Env("LOADER_TEST_UNIT");
    const std::string store = Env("LOADER_TEST_UNIT_STORE");
    ASSERT_FALSE(unit.empty()) << "no simulated unit (LOADER_TEST_UNIT)";
    TTempFolder images;
    const auto pages = ImageBytes(true, 0, 1500);
    const auto program = ImageBytes(false, 1, 3000);
    images.Write("pagesV1.bin", pages);
    images.Write("boot.bin", program);

    // As the README says, with the unit's own address: a click into the
    // address field selects its text, the address typed with its dots
    // replaces it, Enter connects; a click into the folder edit, Ctrl+A, the
    // folder typed, and the lists fill once typing pauses; Upload.
    const HWND address = window.ipedit->Handle();
    ClickInto(address, 50);
    ASSERT_TRUE(
        PumpUntil([&] { return GetFocus() == address && SelectionOf(address).second == 15; }));
    TypeInto(address, unit);
    SendMessageA(address, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(PumpUntil([&] { return !Log().empty() && !window.Loader().Busy(); }));
    EXPECT_EQ(Log(), TLines{"Connected, H/W revision 171"});
    EXPECT_TRUE(IsWindowVisible(window.filegroup));

    const HWND folder = window.diredit->Edit();
    ClickInto(folder, 20);
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == folder; }));
    TypeInto(folder, "\x01" + images.Path());
    EXPECT_TRUE(
        PumpWindowUntil(window, [&] { return window.ListCount(TImageList::ilPrograms) > 0; }));
    EXPECT_EQ(window.ListItem(TImageList::ilWebPages, window.ListItemIndex(TImageList::ilWebPages)),
              "pagesV1.bin");
    EXPECT_EQ(window.ListItem(TImageList::ilPrograms, window.ListItemIndex(TImageList::ilPrograms)),
              "boot.bin");

    // What a user sees of the controls while the upload runs: nothing that
    // chooses the unit or the images enabled, Upload as the run's Cancel.
    std::vector<HWND> enabledDuringRun;
    std::vector<std::string> uploadDuringRun;
    {
        const TTicker sampler([&] {
            for (HWND c : {window.connectbut, window.ipedit->Handle(), window.diredit->Edit(),
                           window.file1edit, window.file2edit})
                if (IsWindowEnabled(c))
                    enabledDuringRun.push_back(c);
            uploadDuringRun.push_back(
                IsWindowEnabled(window.uploadbut) ? WindowText(window.uploadbut) : "");
        });
        SetFocus(window.uploadbut);
        SendMessageA(window.uploadbut, BM_CLICK, 0, 0);
    }

    EXPECT_EQ(Log(),
              (TLines{"Rebooting unit", "Uploading Web page file pagesV1.bin",
                      "Web pages transfered", "Rebooting unit", "Uploading Program file boot.bin",
                      "Program transfered", "Update successful"}));
    EXPECT_EQ(WindowText(window.statuslab), "Update successful");
    EXPECT_TRUE(enabledDuringRun.empty());
    ASSERT_FALSE(uploadDuringRun.empty());
    EXPECT_EQ(std::count(uploadDuringRun.begin(), uploadDuringRun.end(), "Cancel"),
              static_cast<std::ptrdiff_t>(uploadDuringRun.size()));
    EXPECT_EQ(WindowText(window.uploadbut), "Upload");
    EXPECT_TRUE(IsWindowEnabled(window.connectbut));
    EXPECT_EQ(GetFocus(), window.uploadbut);
    EXPECT_TRUE(FileBytes(LinuxPath(store + "/rrpages.bin")) == pages);
    EXPECT_TRUE(FileBytes(LinuxPath(store + "/rrboot.bin")) == program);
    EXPECT_TRUE(answerer.Boxes().empty());
    Picture("success");
}

TEST_F(Win32WindowTest, AnUploadThatTheUnitRefusesEndsInRed) {
    // A unit that refuses every image as RefusingUnit does; ctest starts it.
    const std::string unit = Env("LOADER_TEST_REFUSING_UNIT");
    ASSERT_FALSE(unit.empty()) << "no simulated unit (LOADER_TEST_REFUSING_UNIT)";
    const TImagePair images;
    ConnectTo(unit, images.Folder.Path());
    SendMessageA(window.uploadbut, BM_CLICK, 0, 0);
    EXPECT_EQ(Log(), RefusedUploadLog);
    EXPECT_EQ(window.StatusText(), RefusedUploadLog.back());
    EXPECT_EQ(StatusTextColour(window), RGB(0xc0, 0, 0));
    Picture("failure");
}

TEST_F(Win32WindowTest, FailedScanShowsTheErrorBox) {
    TTempFolder images;
    images.Write("short.bin", std::vector<std::uint8_t>(10, 1));
    window.SetFileGroupVisible(true);
    SetWindowTextA(window.diredit->Edit(), images.Path().c_str());
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Boxes().empty(); }));
    const TBox box = answerer.Boxes().front();
    EXPECT_EQ(box.text, "Read beyond end of file.");
    EXPECT_TRUE(box.errorIcon);
    EXPECT_EQ(box.buttons, TLines{"OK"});
    RECT main{};
    GetWindowRect(window.Handle(), &main);
    EXPECT_TRUE(CentredOver(box.place, main)); // the window's box, over it
    EXPECT_EQ(window.ListItemIndex(TImageList::ilPrograms), -1);
    EXPECT_TRUE(IsWindowEnabled(window.connectbut)); // the window goes on
}

TEST_F(Win32WindowTest, TypingAFolderOpensNoBoxTillItPausesOrEnterIsPressed) {
    const TStoppingFolder stopping;
    window.SetFileGroupVisible(true);
    const HWND folder = window.diredit->Edit();
    for (const TTypingRow& row : TypingRows(stopping)) {
        SCOPED_TRACE(row.Name);
        window.ClearLog();
        SetFocus(folder);
        SendMessageA(folder, EM_SETSEL, 0, -1);
        SendMessageA(folder, WM_CLEAR, 0, 0);
        const std::size_t before = answerer.Boxes().size();
        TypeInto(folder, row.Typed);
        EXPECT_EQ(answerer.Boxes().size(), before);
        EXPECT_TRUE(Log().empty());
        if (row.Enter)
            PressChord({VK_RETURN});
        const auto boxed = [&] { return answerer.Boxes().size() > before; };
        EXPECT_EQ(PumpWindowUntil(window, boxed, 4 * TWindowController::FolderPause), row.Box);
        if (row.Box) {
            EXPECT_EQ(answerer.Boxes().back().text, "Read beyond end of file.");
        }
        EXPECT_EQ(Log(), row.Box ? TLines{ScanStopped} : TLines{});
        EXPECT_EQ(window.ListCount(TImageList::ilPrograms), row.Programs);
    }
}

TEST_F(Win32WindowTest, CloseDuringARunAsksAndAYesEndsItWithinTwoSeconds) {
    const std::string unit = Env("LOADER_TEST_LOST_UNIT");
    ASSERT_FALSE(unit.empty()) << "no simulated unit (LOADER_TEST_LOST_UNIT)";
    const TImagePair images; // an Upload with nothing to send is none
    ConnectTo(unit, images.Folder.Path());
    ASSERT_EQ(Log(), TLines{"Connected, H/W revision 171"});

    // The unit never comes back from its reboot; the user closes the window
    // while the upload waits for it, answers No, and 500 ms later closes it
    // again and answers Yes.
    answerer.AnswerWith(IDNO);
    const HWND main = window.Handle();
    const auto start = Clock::now();
    Clock::time_point closedAgain{};
    bool busyAfterNo = false;
    TLines logAfterNo;
    {
        const TTicker user([&] {
            const auto now = Clock::now();
            if (now - start >= 1500ms && answerer.Boxes().empty() &&
                closedAgain == Clock::time_point{} && IsWindowEnabled(main)) {
                PostMessageA(main, WM_CLOSE, 0, 0);
            } else if (now - start >= 2000ms && answerer.Boxes().size() == 1 &&
                       closedAgain == Clock::time_point{}) {
                busyAfterNo = window.Loader().Busy() && IsWindowVisible(main);
                logAfterNo = Log();
                answerer.AnswerWith(IDYES);
                closedAgain = now;
                PostMessageA(main, WM_CLOSE, 0, 0);
            }
        });
        SendMessageA(window.uploadbut, BM_CLICK, 0, 0);
    }
    const auto ended = Clock::now();
    ASSERT_NE(closedAgain, Clock::time_point{});
    EXPECT_LT(ended - closedAgain, 2s);
    EXPECT_TRUE(busyAfterNo);
    EXPECT_EQ(logAfterNo, TLines{"Rebooting unit"});
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    RECT frame{};
    GetWindowRect(main, &frame);
    for (const TBox& box : boxes) {
        EXPECT_EQ(box.text, TWindowController::CloseQuestion);
        EXPECT_EQ(box.buttons, (TLines{"&Yes", "&No"}));
        EXPECT_TRUE(CentredOver(box.place, frame));
    }
    EXPECT_EQ(Log(), (TLines{"Rebooting unit", "Cancelled at wait after the reboot"}));
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(main); }, 2s));
}

TEST_F(Win32WindowTest, TheRunsButtonOrEscapeEndsTheRunAndTheNextOneRuns) {
    // A unit that tells what it was sent, back at once from each reboot.
    if (!UnitHostRuns())
        GTEST_SKIP() << NoUnitHost;
    const auto host = StartedUnit("127.0.18.12");
    TUnitSim& unit = *host;
    struct TRow {
        const char* name;
        bool escape;             // Escape cancels the wait, rather than Cancel the transfer
        std::string cancelledAt; // the run's last line
        TLines unitErrors;       // what the unit was told so far
    };
    const TRow rows[] = {
        {"Escape during the wait for the unit", true, "Cancelled at wait after the reboot", {}},
        {"Upload's Cancel during a transfer",
         false,
         "Cancelled at web pages",
         {"0 Transfer cancelled"}},
    };
    TTempFolder images;
    // Blocks enough that the cancel comes while the image goes.
    images.Write("pagesV1.bin", ImageBytes(true, 0, 200 * 1468));
    images.Write("boot.bin", ImageBytes(false, 1, 3000));
    window.Loader().WaitLimit = 10s; // an Escape that is lost fails
    ConnectTo("127.0.18.12", images.Path());
    const COLORREF normal = StatusTextColour(window);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        // The cancel comes 300 ms into the wait, or once the first block is
        // sent, through the message queue as a user's would.
        std::string caption;
        bool enabled = false, cancelled = false;
        Clock::time_point rebooting{};
        {
            const TTicker user([&] {
                if (cancelled)
                    return;
                if (row.escape && rebooting == Clock::time_point{} &&
                    Log() == TLines{"Rebooting unit"})
                    rebooting = Clock::now();
                const bool sent = IsWindowVisible(window.transferbar) &&
                                  SendMessageA(window.transferbar, PBM_GETPOS, 0, 0) > 0;
                if (row.escape
                        ? rebooting == Clock::time_point{} || Clock::now() - rebooting < 300ms
                        : !sent)
                    return;
                cancelled = true;
                caption = WindowText(window.uploadbut);
                enabled = IsWindowEnabled(window.uploadbut);
                if (row.escape)
                    PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
                else
                    PostMessageA(window.uploadbut, BM_CLICK, 0, 0);
            });
            SetFocus(window.uploadbut);
            SendMessageA(window.uploadbut, BM_CLICK, 0, 0);
        }
        ASSERT_TRUE(cancelled);
        EXPECT_EQ(caption, "Cancel");
        EXPECT_TRUE(enabled);
        EXPECT_FALSE(window.Loader().Busy());
        EXPECT_EQ(window.Loader().Outcome().Result, TRunResult::rrCancelled);
        EXPECT_EQ(Log().back(), row.cancelledAt);
        EXPECT_EQ(WindowText(window.statuslab), row.cancelledAt);
        EXPECT_NE(StatusTextColour(window), normal);
        EXPECT_EQ(WindowText(window.uploadbut), "Upload");
        // The unit's side of the loopback takes its moment to read the ERROR.
        PumpUntil([&] { return unit.ClientErrors().size() >= row.unitErrors.size(); }, 5s);
        EXPECT_EQ(unit.ClientErrors(), row.unitErrors);
        EXPECT_TRUE(unit.Images().empty());

        // The next run runs, and a good one brings the label's colour back.
        SendMessageA(window.connectbut, BM_CLICK, 0, 0);
        EXPECT_EQ(Log().back(), "Connected, H/W revision 171");
        EXPECT_EQ(StatusTextColour(window), normal);
        EXPECT_EQ(WindowText(window.connectbut), "Connect");
    }
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(Win32WindowTest, UploadIsOfferedOnlyForTheAddressConnected) {
    if (!UnitHostRuns())
        GTEST_SKIP() << NoUnitHost;
    const auto first = StartedUnit("127.0.42.2");
    const auto second = StartedUnit("127.0.42.3");
    const TImagePair images;
    ConnectTo("127.0.42.2", images.Folder.Path());
    ASSERT_TRUE(IsWindowEnabled(window.uploadbut));
    for (const TOfferRow& row : OfferRows("127.0.42.2", "127.0.42.3")) {
        SCOPED_TRACE(row.Name);
        EnterAddress(row.Address);
        if (row.Connect)
            SendMessageA(window.connectbut, BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindowVisible(window.filegroup));
        EXPECT_EQ(IsWindowEnabled(window.uploadbut) != FALSE, row.Offered);
        EXPECT_EQ(WindowText(window.statuslab), row.Status);
    }
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(Win32WindowTest, UploadRefusesImagesItCannotVouchForBeforeAnyCommand) {
    if (!UnitHostRuns())
        GTEST_SKIP() << NoUnitHost;
    const auto unit = StartedUnit("127.0.42.4");
    const TImagePair images;
    ConnectTo("127.0.42.4", images.Folder.Path());
    TTempFolder empty;
    for (const TRefusalRow& row : RefusalRows(images.Folder.Path(), empty.Path())) {
        SCOPED_TRACE(row.Name);
        if (!row.Sha256Sums.empty())
            images.Folder.Write("SHA256SUMS", {row.Sha256Sums.begin(), row.Sha256Sums.end()});
        SetWindowTextW(window.diredit->Edit(), WideText(row.Folder).c_str());
        const std::size_t boxes = answerer.Boxes().size();
        SendMessageA(window.uploadbut, BM_CLICK, 0, 0);
        ASSERT_EQ(answerer.Boxes().size(), boxes + (row.Box.empty() ? 0 : 1));
        if (!row.Box.empty()) {
            EXPECT_EQ(answerer.Boxes().back().text, row.Box);
        }
        EXPECT_EQ(Log().back().substr(0, row.Ends.size()), row.Ends);
        EXPECT_EQ(window.StatusText().substr(0, row.Ends.size()), row.Ends);
        EXPECT_EQ(StatusTextColour(window) == RGB(0xc0, 0, 0), !row.Sent);
        EXPECT_EQ(unit->Images().size(), row.Sent ? 2u : 0u);
        if (!row.Sent) {
            EXPECT_EQ(unit->Requests(), TLines{"/"});
        }
    }
}

TEST_F(Win32WindowTest, FolderChooserIsTheSystemsPickerAtTheEditsFolder) {
    // Its top-left at the edit's bottom-left; moved left by its width past
    // the work area's right edge, and up to 64 above the work area's bottom
    // when it would reach it.
    struct Row {
        POINT anchor;
        SIZE size;
        POINT at;
    } rows[] = {
        {{100, 100}, {300, 400}, {100, 100}},
        {{900, 100}, {300, 400}, {600, 100}},
        {{100, 500}, {300, 268}, {100, 436}},
        {{100, 499}, {300, 268}, {100, 499}},
    };
    const RECT workArea{0, 0, 1024, 768};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.anchor.x << "," << r.anchor.y);
        const POINT at = TAdvDirectoryEdit::ChooserPosition(r.anchor, r.size, workArea);
        EXPECT_EQ(at.x, r.at.x);
        EXPECT_EQ(at.y, r.at.y);
    }

    // The system's picker, at the edit's folder: it lists the folder that
    // folder holds. Below the edit, as on the work area. A path on the
    // drive that Wine maps to the Linux side once gave back the drive.
    const TLinuxFolder linuxSide;
    const std::string& folder = linuxSide.Path;
    window.SetFileGroupVisible(true);
    const HWND edit = window.diredit->Edit();
    struct TRow {
        const char* name;
        std::function<void()> open;
        int command;
        std::string typed; // into the picker's path box
        std::string after; // the edit's text then
    };
    const TRow opens[] = {
        {"F4, cancelled", [&] { SendMessageA(edit, WM_KEYDOWN, VK_F4, 0); }, IDCANCEL, "", folder},
        {"the button, the same folder confirmed",
         [&] { SendMessageA(window.diredit->BrowseButton(), BM_CLICK, 0, 0); }, IDOK, folder,
         folder},
        {"F4, the folder in it confirmed", [&] { SendMessageA(edit, WM_KEYDOWN, VK_F4, 0); }, IDOK,
         folder + "inner", folder + "inner"},
    };
    for (const TRow& row : opens) {
        SCOPED_TRACE(row.name);
        SetWindowTextW(edit, WideText(folder).c_str());
        TDialogAnswerer chooser("Select Directory", row.command);
        chooser.TypeFileName(row.typed);
        row.open();
        ASSERT_EQ(chooser.Boxes().size(), 1u);
        const TBox box = chooser.Boxes().front();
        EXPECT_EQ(box.listed, TLines{"inner"});
        EXPECT_TRUE(box.hasEdit);
        RECT field{};
        GetWindowRect(edit, &field);
        const POINT at = TAdvDirectoryEdit::ChooserPosition(
            {field.left, field.bottom},
            {box.place.right - box.place.left, box.place.bottom - box.place.top},
            WorkAreaOf(window.Handle()));
        EXPECT_EQ(box.place.left, at.x);
        EXPECT_EQ(box.place.top, at.y);
        EXPECT_EQ(window.DirEditText(), row.after);
    }
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(Win32WindowTest, AFolderNamedInAnyScriptListsItsImages) {
    // Named beyond the system's code page, as a folder of any user may be;
    // the window shows its path and its images' names as they are.
    TTempFolder temp;
    const std::string folder = temp.Path() + "Firmware Ünïcødé 版本\\";
    const std::string program = "Bild Ünï 版本.bin";
    std::filesystem::create_directory(std::filesystem::path(WideText(folder)));
    for (const auto& [name, bytes] :
         {std::pair{std::string("pagesV1.bin"), ImageBytes(true, 0, 1500)},
          std::pair{program, ImageBytes(false, 1, 3000)}})
        std::ofstream(std::filesystem::path(WideText(folder + name)), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    window.Loader().HardwareRevision = 171; // as Connect found it: pages images are V1
    window.SetFileGroupVisible(true);
    SetWindowTextW(window.diredit->Edit(), WideText(folder).c_str()); // as typed or chosen
    EXPECT_EQ(window.DirEditText(), folder);
    EXPECT_EQ(window.ListItem(TImageList::ilWebPages, window.ListItemIndex(TImageList::ilWebPages)),
              "pagesV1.bin");
    EXPECT_EQ(window.ListItem(TImageList::ilPrograms, window.ListItemIndex(TImageList::ilPrograms)),
              program);

    // Ctrl+A selects the whole path, as in the address field.
    SendMessageA(window.diredit->Edit(), EM_SETSEL, 3, 3);
    SendMessageA(window.diredit->Edit(), WM_CHAR, 0x01, 0);
    DWORD start = 1;
    DWORD end = 0;
    SendMessageA(window.diredit->Edit(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, static_cast<DWORD>(WideText(folder).size()));

    // The folder chooser opens at the folder in the edit: it lists the
    // folder that one holds.
    std::filesystem::create_directory(std::filesystem::path(WideText(folder + "Ünï")));
    TDialogAnswerer chooser("Select Directory", IDCANCEL);
    SendMessageA(window.diredit->Edit(), WM_KEYDOWN, VK_F4, 0);
    ASSERT_EQ(chooser.Boxes().size(), 1u);
    EXPECT_EQ(chooser.Boxes().front().listed, TLines{"Ünï"});
    EXPECT_EQ(window.DirEditText(), folder);
    EXPECT_TRUE(answerer.Boxes().empty());
}

} // namespace
