// The console of a program without a window: whether its output goes to a
// terminal, and the requests to end that reach a program from outside
// (Ctrl-C, a terminal hung up, a kill, the console closed, log-off) taken as
// requests rather than kills. The platform's calls live in the console
// implementation file beside this one; nothing here names a platform type.
#pragma once

#include <chrono>

enum class TConsoleStream { csOutput, csError };

/// The numbers TakeInterrupt tells: POSIX's signal numbers on every platform,
/// so that an exit status of 128 plus the number reads the same everywhere.
constexpr int SignalHangUp = 1;     // SIGHUP; on Windows the console closed
constexpr int SignalInterrupt = 2;  // SIGINT; on Windows Ctrl-C or Ctrl-Break
constexpr int SignalTerminate = 15; // SIGTERM; on Windows log-off or shut-down

/// Opens the null device on each of the standard streams (input, output,
/// error: descriptors 0 to 2) that the program was started without. Call it
/// first thing in main: otherwise the next file or socket opened takes that
/// number, and what the program writes to its error stream (a trace) goes
/// there, to a unit's TFTP port as datagrams, say.
void OpenClosedStandardStreams();

/// True when the stream is a terminal (so a status line may be redrawn in place).
bool IsTerminal(TConsoleStream stream);

/// From now on SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and
/// the console's close, log-off and shut-down events) no longer end the
/// program: each is held until TakeInterrupt takes it. A closed output
/// stream no longer ends it either (SIGPIPE is ignored): a write to it fails
/// instead. Call before any thread is started, so that every thread of the
/// program holds them alike. On Windows, after a close, log-off or
/// shut-down event the system ends the program once its own grace has passed
/// (5 s after a close); until then the program ends its run as after Ctrl-C.
/// Children started by TChildProcess start with the defaults again.
void HoldInterrupts();

/// Waits up to timeout (zero: no wait) for a held interrupt and takes it:
/// its number (SignalHangUp, SignalInterrupt, SignalTerminate), or 0 when
/// none came. Each interrupt is taken once; several pending ones are taken
/// one per call, the lowest number first.
int TakeInterrupt(std::chrono::nanoseconds timeout);
