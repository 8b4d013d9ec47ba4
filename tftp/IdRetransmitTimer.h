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
