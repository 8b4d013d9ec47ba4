// Programs of the build run as child processes (runtime/Process.h), for the
// tests that press Ctrl-C: the wait for a child's end within a limit, and the
// Ctrl-C during a TFTP wait that the transfer tools share.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Process.h"
#include "tests/support/Platform.h"
#include "tests/support/UdpPeer.h"

/// Reads what child writes into output and error until it has ended and
/// both streams are read whole (true), or until limit has passed (false).
inline bool ReadUntilEnd(TChildProcess& child, std::chrono::milliseconds limit, std::string& output,
                         std::string& error) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    for (;;) {
        WaitForChildOutput(std::vector<TChildProcess*>{&child}, std::chrono::milliseconds(10));
        child.Read(TChildStream::chOutput, output);
        child.Read(TChildStream::chError, error);
        if (child.Ended() && !child.IsOpen(TChildStream::chOutput) &&
            !child.IsOpen(TChildStream::chError))
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
    }
}

/// The exit status of child once it ended within limit, its output read
/// and dropped so that it never blocks on a full pipe; -1 when it did not
/// end (it is killed then).
inline int WaitForEnd(TChildProcess& child, std::chrono::milliseconds limit) {
    std::string dropped;
    if (ReadUntilEnd(child, limit, dropped, dropped))
        return *child.Ended();
    child.Kill();
    return -1;
}

/// Ctrl-C (or another signal) while the program waits for its TFTP server:
/// server answers the program's write request (within requestWait) with ACK
/// 0 and takes DATA 1, then falls silent and the program is interrupted.
/// What the server hears within 1.5 seconds after; none when the request,
/// DATA 1 or that never came.
inline std::optional<Datagram> InterruptDuringAWait(TChildProcess& program, TUdpPeer& server,
                                                    int requestWait, int signal = 2) {
    const auto request = server.Receive(requestWait);
    if (!request)
        return std::nullopt;
    server.Reply(*request, Ack(0));
    if (!server.Receive())
        return std::nullopt;
    if (signal == 2)
        program.Interrupt();
    else
        SignalChild(program, signal);
    return server.Receive(1500);
}
