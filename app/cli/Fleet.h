// Several units in one run of the headless loader: the address list
// (AddressList.h), the checks before any unit is touched, the scheduler
// (FleetRun.h), and at the end the table and the results file
// (FleetResults.h). No loader logic belongs here: each unit's run is an
// ordinary one.
#pragma once

#include <string>
#include <vector>

#include "app/cli/AddressList.h"
#include "app/cli/TftpLoaderCli.h"

/// The fleet run of tftp-loader-cli (program the path it was started by):
/// each unit's run is this program with the options of UnitRunArguments,
/// for that unit's address alone. Prints the end table and writes the JSON
/// file; gives the exit status: 0 when every unit was updated, 1 when any was
/// not, 2 for --list (one unit at a time), a results file that cannot be
/// written (or lies in the image folder) and a --jobs beyond what the
/// open-file limit lets run at once (the fewer of --jobs and the units
/// count), 128 and the signal's number after a signal, one that comes while
/// the table and the file are written included.
int RunFleetCli(const TCliOptions& options, const std::vector<std::string>& addresses,
                const std::string& program);
