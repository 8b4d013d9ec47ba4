// The console on Windows: a stream is a terminal when it is a console, and
// the console's control events reach the console control handler, which
// holds them for TakeInterrupt instead of ending the process. Each event is
// held as the POSIX signal a terminal would send for it (Console.h). Ctrl-Break
// counts as Ctrl-C: a parent passes Ctrl-C on to a child in a process group
// of its own (ProcessWindows.cpp) as Ctrl-Break, since Ctrl-C is off in such
// a group. The handler runs on a thread of its own that the system starts,
// so it only records the event and sets an event object.
#include "runtime/Console.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>

#include "runtime/HeldInterrupts.h"

namespace {

/// Bit n set: signal n waits to be taken.
std::atomic<unsigned> gPending{0};

/// Manual-reset, set while gPending holds a signal, so that a wait for
/// children can wait on it without taking anything.
HANDLE gInterrupt = nullptr;

/// How long the handler keeps the system from ending the program after a
/// close, log-off or shut-down event. The system's own grace is shorter (5 s
/// after a close); the run's end as after Ctrl-C fits in it, and main's
/// return then ends the program, this thread with it.
constexpr DWORD EndGrace = 20000;

void Hold(int signal) {
    gPending.fetch_or(1u << signal);
    ::SetEvent(gInterrupt);
}

/// The lowest pending signal, taken; 0 when none.
int TakePending() {
    unsigned pending = gPending.load();
    while (pending != 0) {
        const int signal = std::countr_zero(pending);
        if (gPending.compare_exchange_weak(pending, pending & ~(1u << signal))) {
            // Reset, then look again: a signal held in between sets it anew.
            if (gPending.load() == 0)
                ::ResetEvent(gInterrupt);
            if (gPending.load() != 0)
                ::SetEvent(gInterrupt);
            return signal;
        }
    }
    return 0;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        Hold(SignalInterrupt);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        Hold(SignalHangUp);
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        Hold(SignalTerminate);
        break;
    default:
        return FALSE;
    }
    // The system ends the program as soon as this returns.
    ::Sleep(EndGrace);
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
    // A write to a closed pipe fails with ERROR_NO_DATA here and ends
    // nothing: there is no SIGPIPE to ignore.
    if (gInterrupt)
        return;
    gInterrupt = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

int TakeInterrupt(std::chrono::nanoseconds timeout) {
    const DWORD ms = Milliseconds(timeout);
    if (!gInterrupt) {
        // Nothing held: an interrupt ends the program by itself, so none can come.
        ::Sleep(ms);
        return 0;
    }
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    for (;;) {
        if (const int signal = TakePending())
            return signal;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return 0;
        // The event can stay set a moment after the signal was taken (two
        // takers at once): then the loop looks again, until the deadline.
        if (::WaitForSingleObject(gInterrupt, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
            return TakePending();
    }
}

file_t HeldInterruptWaitable() {
    return gInterrupt ? reinterpret_cast<file_t>(gInterrupt) : InvalidFile;
}

void RaiseInterrupt(int signal) {
    if (gInterrupt)
        Hold(signal);
    else
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(128 + signal));
}

void OpenClosedStandardStreams() {
    // A socket is no C runtime descriptor here, so none can take a standard
    // stream's number; a stream that has no descriptor still gets the null
    // device, so that a write to it goes nowhere rather than failing.
    FILE* const streams[] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; ++fd)
        if (_fileno(streams[fd]) < 0)
            std::freopen("NUL", fd == 0 ? "r" : "w", streams[fd]);
}
