// The portable side of the system calls that Linux has of its own
// (ProcessLinux.cpp): no watch for a child's end or for a pending signal, so
// the process set sees an end when the child's streams close and reaps it
// then, and looks for interrupts between slices of its waits; a thread
// looks for the parent's end now and then; the program's file and its open
// descriptors are not known.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "runtime/Console.h"
#include "runtime/HeldInterrupts.h"
#include "runtime/PosixSystem.h"

file_t OpenEndWatch(pid_t /*pid*/) {
    return InvalidFile;
}

file_t OpenSignalWatch(const sigset_t& /*held*/) {
    return InvalidFile;
}

void AskForSignalAtParentEnd(pid_t parent) {
    if (::getppid() != parent) {
        RaiseInterrupt(SignalTerminate);
        return;
    }
    // An orphan gets a new parent: that is the sign. The thread lives as long
    // as the program and holds nothing.
    std::thread([parent] {
        while (::getppid() == parent)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        RaiseInterrupt(SignalTerminate);
    }).detach();
}

std::string SystemProgramFile() {
    return {};
}

std::optional<std::size_t> OpenDescriptorCount() {
    return std::nullopt;
}
