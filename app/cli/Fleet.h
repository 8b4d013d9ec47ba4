// Several units in one run of the headless loader. Each unit's update is a
// run of this same program for its one address, in a process of its own (the
// loader's logic, its stack and its TFTP component are one per process), at
// most Jobs at once. The fleet run starts them, reads their reports, prefixes
// every line with its unit's address, keeps a status line per running unit on
// a terminal, and ends with a table of results. No loader logic belongs here:
// each unit's run is an ordinary one.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/Exception.h"

/// A list of addresses the fleet run cannot take; the message says where.
class EFleetUsage : public Exception {
public:
    using Exception::Exception;
};

/// One unit's address as given, and where it was given, for the messages.
struct TFleetAddress {
    std::string Text;
    std::string Origin;
};

/// The addresses of an address file: one a line, blanks around it ignored,
/// and so are empty lines and everything from a "#" on. Throws EFleetUsage
/// naming the file and the line for a line that holds no address, and for a
/// file that cannot be read or is too large to be a list of addresses.
std::vector<TFleetAddress> ReadAddressFile(const std::string& path);

/// The addresses as the loader's address field reads them ("127.0.0.2"
/// gives "127.000.000.002"). Throws EFleetUsage for one that is no address
/// and for a unit given twice, which two runs at once would both reboot and
/// write to.
std::vector<std::string> FleetAddresses(const std::vector<TFleetAddress>& addresses);

/// The end table's row of one unit.
struct TUnitResult {
    std::string Address;
    /// 0 when no unit answered.
    int Revision = 0;
    /// The images chosen for the unit; empty for none.
    std::string Pages, Program;
    /// "Update successful", or why not.
    std::string Result;
    double Seconds = 0;
    bool Succeeded = false;
};

struct TFleetSettings {
    /// The program each unit's run starts (this one) and its arguments
    /// without the address.
    std::string Program;
    std::vector<std::string> Arguments;
    /// As the address field reads them.
    std::vector<std::string> Addresses;
    int Jobs = 4;
};

/// Runs every unit's update, at most Jobs at once, until all have ended or
/// Ctrl-C has cancelled the running ones; results holds one row per address,
/// in their order. The exit status: 0 when every unit was updated, 1 when
/// any was not, 130 after Ctrl-C.
int RunFleet(const TFleetSettings& settings, std::vector<TUnitResult>& results);

/// The end table, one row a unit, columns aligned.
void PrintResultTable(const std::vector<TUnitResult>& results, std::FILE* out);

/// The end table as JSON: an array with one object a unit. Throws
/// EFleetUsage when the file cannot be written.
void WriteResultJson(const std::vector<TUnitResult>& results, const std::string& path);
