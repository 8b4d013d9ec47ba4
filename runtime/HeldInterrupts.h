// What the console file and the process file of one platform share about
// held interrupts, inside runtime/ only (front ends use Console.h): the thing
// a wait for children adds to what it waits on, and an interrupt raised from
// within the program. The declarations are platform-free; the platform's
// console file defines them.
#pragma once

#include "runtime/Files.h"

/// Ready while a held interrupt waits to be taken, and not consumed by a
/// wait on it: on POSIX a signalfd over the held signals (it polls readable
/// and is never read), on Windows a manual-reset event. InvalidFile until
/// HoldInterrupts.
file_t HeldInterruptWaitable();

/// Delivers signal (a Console.h number) to this program as the system would
/// send it: held when the program holds interrupts, so that TakeInterrupt
/// returns it; otherwise it ends the program with status 128 + signal.
void RaiseInterrupt(int signal);
