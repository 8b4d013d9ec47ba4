// One run of the headless loader: its options, and what it does with them on
// a TCliWindow (enter the address and the folder, Connect, choose the images,
// list them or Upload), ending in the exit status. main() only parses the
// arguments; a program that updates several units runs this once per unit.
// Holds no protocol logic; that is TLoader's.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

/// The exit status of a run; a run that a signal ended exits with 128 and
/// the signal's number, as a shell reports a program that the signal killed.
enum TExitStatus { esDone = 0, esFailed = 1, esUsage = 2, esSignalled = 128 };

/// What the user asks of one run.
struct TCliOptions {
    /// The units' addresses as typed, "127.0.0.2"; at least one, here or in
    /// AddressFile, so that no run goes to whatever answers at a default
    /// address. More than one make a fleet run.
    std::vector<std::string> Addresses;
    /// A file of addresses, one a line.
    std::string AddressFile;
    /// In a fleet run: units updated at once, and the results file.
    int Jobs = 4;
    std::string Json;
    /// The run writes its window's lines as the records of a unit's report,
    /// for the fleet run that started it.
    bool Report = false;
    /// The image folder; empty: the program's folder.
    std::string Folder;
    /// The images to upload by name; empty: the first of each list.
    std::string Pages, Program;
    bool NoPages = false, NoProgram = false;
    bool List = false;
    bool Trace = false;
    /// Seconds to wait for the unit after a reboot.
    double WaitLimit = 300;
    /// Re-sends of a TFTP packet whose reply does not come; 0 sends each once.
    std::int32_t Retries = 0;
    /// Seconds that the whole run (of each unit, in a fleet) may take; 0 for
    /// no limit.
    double TimeLimit = 0;
    /// After the program image, wait for the unit to report its revision
    /// again; the run succeeds only when it does.
    bool Verify = false;
    /// A sha256sum list that every image to be sent must be in.
    std::string Manifest;
};

/// Adds the options of a run to app, each stored into options when parsed.
void AddCliOptions(CLI::App& app, TCliOptions& options);

/// The arguments that give one unit's run options' choices for that unit:
/// every option of a run, none of the fleet's own (the addresses, --jobs,
/// --json), no --address and no --report. The fleet run starts each unit's
/// run with these.
std::vector<std::string> UnitRunArguments(const TCliOptions& options);

/// One run against the unit at address; its exit status.
int RunCli(const TCliOptions& options, const std::string& address);
