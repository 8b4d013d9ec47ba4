// The console on POSIX: isatty, and SIGINT, SIGTERM and SIGHUP kept blocked
// so that each stays pending until sigtimedwait takes it. No signal handler
// runs, so no system call anywhere in the program is interrupted by one; a
// signal watch over the same signals (Linux: a signalfd) lets a wait for
// children wake on one without taking it, and sigpending tells the same
// where there is none. SIGPIPE is ignored, so a closed output makes a write
// fail with EPIPE instead of ending the program in the middle of a transfer.
#include "runtime/Console.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "runtime/HeldInterrupts.h"
#include "runtime/PosixSystem.h"

namespace {

sigset_t HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

file_t gWaitable = InvalidFile;

} // namespace

bool IsTerminal(TConsoleStream stream) {
    return ::isatty(stream == TConsoleStream::csOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void HoldInterrupts() {
    const sigset_t set = HeldSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Made once and kept for the program's life; a program without one still
    // holds its interrupts, and its waits for children then wake on them no
    // sooner than their own timeouts.
    static const TFileHandle waitable(OpenSignalWatch(set));
    gWaitable = waitable.Get();
}

int TakeInterrupt(std::chrono::nanoseconds timeout) {
    const sigset_t set = HeldSignals();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds.count());
    wait.tv_nsec = static_cast<long>((timeout - seconds).count());
    // EINTR (another signal) and EAGAIN (the time passed) both mean none came.
    const int signal = sigtimedwait(&set, nullptr, &wait);
    return signal > 0 ? signal : 0;
}

file_t HeldInterruptWaitable() {
    return gWaitable;
}

bool HeldInterruptPending() {
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return false;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&pending, signal) == 1)
            return true;
    return false;
}

void RaiseInterrupt(int signal) {
    // To the process, not to this thread: whichever thread takes interrupts
    // sees it pending.
    ::kill(::getpid(), signal);
}

void OpenClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null < 0)
            continue; // no null device: nothing better to put there
        // The lowest free number is this one, since those below are open by
        // now; dup2 all the same, as its own and without O_CLOEXEC.
        if (null == fd) {
            ::fcntl(fd, F_SETFD, 0);
        } else {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}
