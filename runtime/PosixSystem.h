// What the POSIX process and console files need of a particular system,
// inside runtime/ only. Linux has it all (ProcessLinux.cpp: pidfd, signalfd,
// PR_SET_PDEATHSIG, /proc); any other POSIX system takes the portable path
// (ProcessPosixPortable.cpp), which gives up none of what the process set
// promises, only some promptness: a child's end is seen when its streams
// close, interrupts and a parent's end by looking now and then.
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>

#include "runtime/Files.h"

/// Polls readable once the child pid has ended; InvalidFile where the
/// system cannot tell so (the end is then seen by the child's streams).
file_t OpenEndWatch(pid_t pid);

/// Polls readable while one of the signals in held is pending (and is never
/// read); InvalidFile where the system has no such thing.
file_t OpenSignalWatch(const sigset_t& held);

/// From now on a SIGTERM comes to this program when its parent, now
/// parent, ends; at once when that has happened already.
void AskForSignalAtParentEnd(pid_t parent);

/// The running program's own file; empty where the system does not tell.
std::string SystemProgramFile();

/// How many descriptors the program has open; none where it cannot tell.
std::optional<std::size_t> OpenDescriptorCount();

/// True while one of the held signals (Console.h's interrupts) is pending:
/// what a wait without a signal watch looks at between its slices. Defined
/// by the console file.
bool HeldInterruptPending();
