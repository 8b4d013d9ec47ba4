// The console on POSIX: isatty, and SIGINT kept blocked so that it stays
// pending until sigtimedwait takes it. No signal handler runs, so no system
// call anywhere in the program is interrupted by a Ctrl-C.
#include "runtime/Console.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace {

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

bool IsTerminal(TConsoleStream stream) {
    return ::isatty(stream == TConsoleStream::csOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void HoldInterrupts() {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TakeInterrupt(std::chrono::nanoseconds timeout) {
    const sigset_t set = InterruptSignals();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds.count());
    wait.tv_nsec = static_cast<long>((timeout - seconds).count());
    // EINTR (another signal) and EAGAIN (the time passed) both mean no Ctrl-C.
    return sigtimedwait(&set, nullptr, &wait) == SIGINT;
}
