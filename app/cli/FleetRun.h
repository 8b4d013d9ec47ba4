// The fleet's scheduler: each unit's update is a run of this same program for
// its one address, in a process of its own (the loader's logic, its stack
// and its TFTP component are one per process), at most Jobs at once. It
// starts them, passes signals on, reads each run's report into the console
// and into the unit's verdict, and fills one row per unit. A unit's run is
// never waited for on its own: one wait covers every running unit, so a
// silent or failing unit holds up none of the others. No loader logic, and
// no table or file, belongs here.
#pragma once

#include <string>
#include <vector>

#include "app/cli/FleetResults.h"

struct TFleetSettings {
    /// The program each unit's run starts (this one) and its arguments
    /// without the address.
    std::string Program;
    std::vector<std::string> Arguments;
    /// As the address field reads them.
    std::vector<std::string> Addresses;
    int Jobs = 4;
    /// Each unit's run was asked to verify (--verify among Arguments).
    bool Verify = false;
};

/// Runs every unit's update, at most Jobs at once, until all have ended or
/// a signal (Ctrl-C, SIGTERM, SIGHUP) has cancelled the running ones, a
/// second one ending them at once; results holds one row per address, in
/// their order. The exit status: 0 when every unit was updated, 1 when any
/// was not, 128 and the first signal's number after a signal.
int RunFleet(const TFleetSettings& settings, std::vector<TUnitResult>& results);
