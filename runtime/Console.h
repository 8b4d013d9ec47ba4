// The console of a program without a window: whether its output goes to a
// terminal, and Ctrl-C taken as a request to end rather than a kill. The
// platform's calls live in the console implementation file beside this one;
// nothing here names a platform type.
#pragma once

#include <chrono>

enum class TConsoleStream { csOutput, csError };

/// True when the stream is a terminal (so a status line may be redrawn in place).
bool IsTerminal(TConsoleStream stream);

/// From now on Ctrl-C no longer ends the program: it is held until
/// TakeInterrupt takes it. Call before any thread is started, so that every
/// thread of the program holds it alike.
void HoldInterrupts();

/// Waits up to timeout (zero: no wait) for a held Ctrl-C; true when one came.
/// Each Ctrl-C is taken once.
bool TakeInterrupt(std::chrono::nanoseconds timeout);
