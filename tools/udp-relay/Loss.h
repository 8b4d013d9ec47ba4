// The loss model of the test rig: what happens to each datagram that passes
// through it (dropped, duplicated, delayed, held back behind the next one),
// at rates per direction, decided from a seed. The fate of the n-th datagram
// in one direction depends only on the seed, the direction and n, so a run
// that failed can be replayed with the same seed. No sockets here: the relay
// applies the fates; the command-line options that fill the settings are
// LossOptions.h.
#pragma once

#include <chrono>
#include <cstdint>

/// The two ways a datagram can travel through the rig.
enum TLossDirection : std::uint8_t { ldToServer = 0, ldToClient = 1 };

/// Rates (0 to 1) of one direction.
struct TLossRates {
    double Drop = 0;
    double Duplicate = 0;
    double Delay = 0;
    double Reorder = 0;

    bool Any() const { return Drop > 0 || Duplicate > 0 || Delay > 0 || Reorder > 0; }
};

struct TLossSettings {
    TLossRates Rates[2]; // by TLossDirection
    std::uint64_t Seed = 1;
    /// How long a delayed datagram is held.
    std::chrono::milliseconds DelayTime{20};
    /// The longest a datagram held for reordering waits for the next one in
    /// its direction; lock-step traffic often has no next one until a
    /// retransmission.
    std::chrono::milliseconds ReorderLimit{100};

    bool Any() const { return Rates[ldToServer].Any() || Rates[ldToClient].Any(); }
};

/// What becomes of one datagram. A dropped datagram has no other fate; the
/// others combine (a duplicated datagram may also be delayed, both copies).
struct TLossFate {
    bool Drop = false;
    bool Duplicate = false;
    bool Delay = false;
    bool Reorder = false;
};

/// The fate of datagram number AIndex (from 0) in ADirection.
TLossFate FateOf(const TLossSettings& ASettings, TLossDirection ADirection, std::uint64_t AIndex);
