// Tests of the re-send time: the estimate from round trips, its bounds, and
// the doubling per re-send.
#include <gtest/gtest.h>

#include "tftp/IdRetransmitTimer.h"

namespace {

using us = std::chrono::microseconds;

TEST(RetransmitTimer, FollowsTheRoundTripsWithinItsBoundsAndDoublesPerResend) {
    const struct {
        const char* what;
        std::vector<long> events; // > 0: a round trip sampled (us); 0: a back-off
        long expected;            // the time-out after them, us
    } rows[] = {
        {"initial", {}, 500000},
        {"first sample: R + 4 R/2", {10000}, 30000},
        {"below the minimum", {1000}, 20000},
        {"steady round trips shrink the variation",
         {100000, 100000, 100000, 100000},
         100000 + 4 * 21093},
        {"a slow reply widens it", {10000, 10000, 90000}, 20000 + 4 * 22812},
        {"above the maximum", {1500000}, 2000000},
        {"back-off doubles", {10000, 0, 0}, 120000},
        {"back-off stops at the maximum", {0, 0, 0, 0, 0}, 2000000},
        {"a sample ends the back-off", {10000, 0, 0, 10000}, 10000 + 4 * 3750},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        TIdRetransmitTimer timer(us(500000), us(20000), us(2000000));
        for (const long e : r.events) {
            if (e > 0)
                timer.Sample(us(e));
            else
                timer.Backoff();
        }
        EXPECT_EQ(timer.Timeout(), us(r.expected));
    }
}

} // namespace
