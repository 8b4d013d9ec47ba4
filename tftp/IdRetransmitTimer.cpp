// RFC 6298, section 2, with the bounds of a local network instead of the
// Internet's one-second floor.
#include "tftp/IdRetransmitTimer.h"

#include <algorithm>

TIdRetransmitTimer::TIdRetransmitTimer(Duration AInitial, Duration AMinimum, Duration AMaximum)
    : minimum_(AMinimum), maximum_(AMaximum), timeout_(std::clamp(AInitial, AMinimum, AMaximum)) {}

void TIdRetransmitTimer::Sample(Duration ARoundTrip) {
    if (!sampled_) {
        smoothed_ = ARoundTrip;
        variation_ = ARoundTrip / 2;
        sampled_ = true;
    } else {
        // RTTVAR = 3/4 RTTVAR + 1/4 |SRTT - R|, then SRTT = 7/8 SRTT + 1/8 R.
        const Duration error =
            smoothed_ > ARoundTrip ? smoothed_ - ARoundTrip : ARoundTrip - smoothed_;
        variation_ = (3 * variation_ + error) / 4;
        smoothed_ = (7 * smoothed_ + ARoundTrip) / 8;
    }
    timeout_ = std::clamp(smoothed_ + 4 * variation_, minimum_, maximum_);
}

void TIdRetransmitTimer::Backoff() {
    timeout_ = std::min(2 * timeout_, maximum_);
}
