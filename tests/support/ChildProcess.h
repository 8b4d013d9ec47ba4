// A program of the build run as a child process, for the tests that press
// Ctrl-C: started, interrupted and waited for by its pid, and killed by its
// pid if it outlives the test; and the Ctrl-C during a TFTP wait that the
// transfer tools share. Plain POSIX calls.
#pragma once

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/UdpPeer.h"

class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int failed = ::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ);
        if (failed)
            throw std::runtime_error("cannot start " + args[0]);
    }
    ~TChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    /// Ctrl-C, as a terminal sends it.
    void Interrupt() { ::kill(pid_, SIGINT); }

    /// The exit status once the program ended within limit; -1 when it did
    /// not (it is killed then) or ended by a signal.
    int Wait(std::chrono::milliseconds limit) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= giveUp)
                return -1; // the destructor kills it
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

/// Ctrl-C while the program waits for its TFTP server: server answers the
/// program's write request (within requestWait) with ACK 0 and takes DATA 1,
/// then falls silent and the program is interrupted. What the server hears
/// within 1.5 seconds after; none when the request, DATA 1 or that never came.
inline std::optional<Datagram> InterruptDuringAWait(TChildProcess& program, TUdpPeer& server,
                                                    int requestWait) {
    const auto request = server.Receive(requestWait);
    if (!request)
        return std::nullopt;
    server.Reply(*request, Ack(0));
    if (!server.Receive())
        return std::nullopt;
    program.Interrupt();
    return server.Receive(1500);
}
