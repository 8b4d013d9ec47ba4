// The console on Windows: a stream is a terminal when it is a console, and
// Ctrl-C reaches the console control handler, which records it in an event
// for TakeInterrupt instead of ending the process. Ctrl-Break counts as
// Ctrl-C: a parent passes Ctrl-C on to a child in a process group of its own
// (ProcessWindows.cpp) as Ctrl-Break, since Ctrl-C is off in such a group.
// The handler runs on a thread of its own that the system starts, so it only
// sets the event.
#include "runtime/Console.h"

#include <windows.h>

namespace {

// Auto-reset: each Ctrl-C is taken once, and several before a take count as one.
HANDLE gInterrupt = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; // closing the console, logging off: the default, which ends the program
    ::SetEvent(gInterrupt);
    return TRUE;
}

DWORD Milliseconds(std::chrono::nanoseconds timeout) {
    // Rounded up, so that a short wait is a wait; kept below INFINITE.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return ms <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

} // namespace

bool IsTerminal(TConsoleStream stream) {
    const HANDLE h =
        ::GetStdHandle(stream == TConsoleStream::csOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || ::GetConsoleMode(h, &mode) == 0)
        return false;
    // What goes to a terminal redraws its status line with escape sequences,
    // which a console interprets only with virtual terminal processing on; a
    // console that cannot (before Windows 10) gets plain lines, as a pipe does.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void HoldInterrupts() {
    if (gInterrupt)
        return;
    gInterrupt = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool TakeInterrupt(std::chrono::nanoseconds timeout) {
    const DWORD ms = Milliseconds(timeout);
    if (!gInterrupt) {
        // Nothing held: a Ctrl-C ends the program by itself, so none can come.
        ::Sleep(ms);
        return false;
    }
    return ::WaitForSingleObject(gInterrupt, ms) == WAIT_OBJECT_0;
}
