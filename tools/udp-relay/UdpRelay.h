// A UDP relay for tests and benchmarks: it listens on one loopback address and
// port, forwards every client's datagrams to a server and the server's
// answers back, and applies a loss model (Loss.h) in each direction. A server
// that answers from a new port (as TFTP servers do) is followed: the relay
// answers the client from a new port of its own, so the client sees the same
// change of port that it would see without the relay. Loopback only; no
// protocol knowledge of TFTP or anything else belongs here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/udp-relay/Loss.h"

struct TUdpRelaySettings {
    std::string ListenAddress = "127.0.0.1"; // in 127.0.0.0/8
    std::uint16_t ListenPort = 0;            // 0: any free port
    std::string ServerAddress = "127.0.0.1"; // in 127.0.0.0/8
    std::uint16_t ServerPort = 0;
    TLossSettings Loss;
};

/// What the relay did, per direction (TLossDirection).
struct TUdpRelayCounts {
    std::uint64_t Received[2] = {};
    std::uint64_t Dropped[2] = {};
    std::uint64_t Duplicated[2] = {};
    std::uint64_t Delayed[2] = {};
    std::uint64_t Reordered[2] = {};
};

class TUdpRelay {
public:
    explicit TUdpRelay(TUdpRelaySettings ASettings);
    /// Stops the relay.
    ~TUdpRelay();
    TUdpRelay(const TUdpRelay&) = delete;
    TUdpRelay& operator=(const TUdpRelay&) = delete;

    /// Binds the listening port and starts relaying on a thread of its own.
    /// Throws std::runtime_error for an address outside 127.0.0.0/8 or a port
    /// that cannot be bound.
    void Start();
    /// Stops relaying within a tenth of a second; datagrams still held are
    /// dropped.
    void Stop() noexcept;

    /// The port clients send to (the one bound, when ListenPort was 0).
    std::uint16_t ListenPort() const { return listenPort_; }
    /// Counts so far; exact once stopped.
    TUdpRelayCounts Counts() const;

private:
    void Run();

    const TUdpRelaySettings settings_;
    int listenFd_ = -1;
    std::uint16_t listenPort_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    struct TCounters {
        std::atomic<std::uint64_t> Received[2], Dropped[2], Duplicated[2], Delayed[2], Reordered[2];
    } counters_{};
};
