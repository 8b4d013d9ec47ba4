// The units of a run as the user gives them: --address, several times, and
// an --addresses file of one address a line. Each comes out as the loader's
// address field reads it, checked, and no unit twice. Nothing here starts,
// reads or reports a unit's run.
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
