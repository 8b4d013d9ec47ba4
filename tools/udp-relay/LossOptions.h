// The loss options shared by udp-relay and unit-sim, so that both programs
// take a lossy link described in the same words.
#pragma once

#include <CLI/CLI.hpp>
#include <vector>

#include "tools/udp-relay/Loss.h"

/// Adds --drop, --duplicate, --delay, --reorder (each one rate for both
/// directions, or two: towards the server, towards the client), --delay-ms,
/// --reorder-ms and --seed, filling ASettings as they are parsed.
inline void AddLossOptions(CLI::App& AApp, TLossSettings& ASettings) {
    const auto rate = [&](const char* name, double TLossRates::*field, const char* what) {
        AApp.add_option_function<std::vector<double>>(
                name,
                [&ASettings, field](const std::vector<double>& values) {
                    ASettings.Rates[ldToServer].*field = values.front();
                    ASettings.Rates[ldToClient].*field = values.back();
                },
                std::string("Share of datagrams ") + what +
                    ": one rate for both directions, or two (to the server, to the client)")
            ->expected(1, 2)
            ->check(CLI::Range(0.0, 1.0));
    };
    rate("--drop", &TLossRates::Drop, "dropped");
    rate("--duplicate", &TLossRates::Duplicate, "sent twice");
    rate("--delay", &TLossRates::Delay, "held for --delay-ms");
    rate("--reorder", &TLossRates::Reorder,
         "held until the next one in their direction has passed (at most --reorder-ms)");
    AApp.add_option_function<int>(
            "--delay-ms",
            [&ASettings](int ms) { ASettings.DelayTime = std::chrono::milliseconds(ms); },
            "How long a delayed datagram is held")
        ->check(CLI::Range(0, 60000));
    AApp.add_option_function<int>(
            "--reorder-ms",
            [&ASettings](int ms) { ASettings.ReorderLimit = std::chrono::milliseconds(ms); },
            "Longest wait of a datagram held back for reordering")
        ->check(CLI::Range(0, 60000));
    AApp.add_option("--seed", ASettings.Seed, "Seed of the losses: the same seed, the same fates")
        ->capture_default_str();
}
