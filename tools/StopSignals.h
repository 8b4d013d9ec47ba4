// How the helper programs run until they are told to stop: SIGINT (Ctrl-C)
// and SIGTERM (a test or script ending them by pid) are blocked before any
// thread starts, so every thread inherits the mask and none is interrupted;
// the main thread then takes one of them with sigwait and shuts down in
// order. The helpers are Linux programs, so this is POSIX alone.
#pragma once

#include <csignal>
#include <pthread.h>

class TStopSignals {
public:
    /// Blocks SIGINT and SIGTERM for this thread and the threads it starts.
    TStopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    }

    /// Waits until one of them comes.
    void Wait() const {
        int signal = 0;
        sigwait(&signals_, &signal);
    }

private:
    sigset_t signals_;
};
