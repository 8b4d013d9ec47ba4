// Several units in one run of the headless loader. Each unit's update is a
// run of this same program for its one address, in a process of its own (the
// loader's logic, its stack and its TFTP component are one per process), at
// most Jobs at once. The fleet run starts them, reads their reports, prefixes
// every line with its unit's address, keeps a status line per running unit on
// a terminal, and ends with a table of results. No loader logic belongs here:
// each unit's run is an ordinary one.
#pragma once

#include <string>
#include <vector>

#include "app/cli/TftpLoaderCli.h"
#include "runtime/Exception.h"

/// A list of addresses the fleet run cannot take; the message says where.
class EFleetUsage : public Exception {
public:
    using Exception::Exception;
};

/// The units of a run, as the loader's address field reads them
/// ("127.0.0.2" gives "127.000.000.002"): those of --address, then those of
/// the --addresses file, one a line, blanks around it ignored, and so are
/// empty lines and everything from a "#" on. Throws EFleetUsage naming the
/// file and the line for a line that holds no address, for a file that cannot
/// be read or is too large to be a list of addresses, and for a unit given
/// twice, which two runs at once would both reboot and write to.
std::vector<std::string> UnitAddresses(const TCliOptions& options);

/// The fleet run of tftp-loader-cli (program the path it was started by):
/// each unit's run is this program with the options of UnitRunArguments,
/// for that unit's address alone. Prints the end table and writes the JSON
/// file; gives the exit status: 0 when every unit was updated, 1 when any was
/// not, 2 for --list (one unit at a time), a results file that cannot be
/// written and a --jobs beyond what the open-file limit lets run at once (the
/// fewer of --jobs and the units count), 130 after Ctrl-C.
int RunFleetCli(const TCliOptions& options, const std::vector<std::string>& addresses,
                const std::string& program);
