// Fates of datagrams from a seed: a counter-based generator, so that no
// datagram's fate depends on how many came before it in the other direction.
#include "tools/udp-relay/Loss.h"

namespace {

/// SplitMix64's mixing step: every bit of the input reaches every bit of the
/// output, so consecutive counters give unrelated values.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

/// A uniform value in [0, 1) for one decision about one datagram.
double Uniform(std::uint64_t seed, TLossDirection direction, std::uint64_t index, int decision) {
    const std::uint64_t key = Mix(seed) ^ Mix(index * 8 + direction * 4 + decision);
    return static_cast<double>(Mix(key) >> 11) * 0x1.0p-53;
}

} // namespace

TLossFate FateOf(const TLossSettings& ASettings, TLossDirection ADirection, std::uint64_t AIndex) {
    const TLossRates& rates = ASettings.Rates[ADirection];
    const auto happens = [&](int decision, double rate) {
        return rate > 0 && Uniform(ASettings.Seed, ADirection, AIndex, decision) < rate;
    };
    TLossFate fate;
    if (happens(0, rates.Drop)) {
        fate.Drop = true;
        return fate;
    }
    fate.Duplicate = happens(1, rates.Duplicate);
    fate.Delay = happens(2, rates.Delay);
    fate.Reorder = happens(3, rates.Reorder);
    return fate;
}
