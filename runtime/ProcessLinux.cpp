// The process and console calls that Linux alone has: a pidfd for a child's
// end, a signalfd for the held interrupts, PR_SET_PDEATHSIG for a parent's
// end, and /proc for the program's file and its open descriptors. Every other
// POSIX system builds ProcessPosixPortable.cpp instead.
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "runtime/Console.h"
#include "runtime/HeldInterrupts.h"
#include "runtime/PosixSystem.h"

file_t OpenEndWatch(pid_t pid) {
    // Through syscall: glibc 2.36's <sys/pidfd.h> declares pidfd_open
    // without C linkage. Before Linux 5.3 there is none: -1.
    return static_cast<file_t>(::syscall(SYS_pidfd_open, pid, 0));
}

file_t OpenSignalWatch(const sigset_t& held) {
    const int watch = ::signalfd(-1, &held, SFD_CLOEXEC | SFD_NONBLOCK);
    return watch < 0 ? InvalidFile : watch;
}

void AskForSignalAtParentEnd(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A parent that ended before the line above sends nothing: this program
    // has another parent already.
    if (::getppid() != parent)
        RaiseInterrupt(SignalTerminate);
}

std::string SystemProgramFile() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

std::optional<std::size_t> OpenDescriptorCount() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return std::nullopt;
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(folder);
    return count - 1; // the folder's own
}
