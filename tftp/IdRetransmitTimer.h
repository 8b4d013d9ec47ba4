// The re-send time of the write transfer when retransmission is asked for:
// an estimate of the round trip measured on the running transfer, in the way
// of RFC 6298 (smoothed round trip plus four times its variation, bounded
// below and above, doubled for each re-send of the same packet, and no
// sample taken from a packet that was re-sent, as Karn's rule says). Timing
// only: no sockets and no packets here.
#pragma once

#include <chrono>

class TIdRetransmitTimer {
public:
    using Duration = std::chrono::microseconds;

    /// The bounds for a unit on the local network: a round trip there takes
    /// well under a millisecond and the unit answers within milliseconds, so
    /// the Internet's floor of one second (RFC 6298) would make each loss
    /// cost as much as in a client with a fixed time-out. Before any round
    /// trip is known (the request, which the unit may answer slowly right
    /// after its reboot) the wait is longer.
    static constexpr Duration InitialTime{500000};
    static constexpr Duration MinimumTime{20000};
    static constexpr Duration MaximumTime{2000000};

    /// The bounds above.
    TIdRetransmitTimer() : TIdRetransmitTimer(InitialTime, MinimumTime, MaximumTime) {}
    /// AInitial until the first round trip is measured; every value within
    /// AMinimum and AMaximum.
    TIdRetransmitTimer(Duration AInitial, Duration AMinimum, Duration AMaximum);

    /// How long to wait for a reply before the packet is sent again.
    Duration Timeout() const { return timeout_; }
    /// A reply came ARoundTrip after a packet that was sent only once.
    void Sample(Duration ARoundTrip);
    /// The packet was sent again: the next wait is twice as long (at most
    /// the maximum), until the next sample.
    void Backoff();

private:
    Duration minimum_, maximum_;
    Duration timeout_;
    Duration smoothed_{0};
    Duration variation_{0};
    bool sampled_ = false;
};
