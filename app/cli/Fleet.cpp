// The fleet run from its options to its exit status: what must hold before
// any unit is touched, the scheduler, and the table and results file after.
#include "app/cli/Fleet.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/FleetRun.h"
#include "runtime/Console.h"
#include "runtime/Convert.h"
#include "runtime/Files.h"
#include "runtime/Process.h"

int RunFleetCli(const TCliOptions& options, const std::vector<std::string>& addresses,
                const std::string& program) {
    if (options.List) {
        std::fputs("error: --list: one unit at a time\n", stderr);
        return esUsage;
    }
    TFleetSettings settings;
    settings.Program = RunningProgramFile();
    if (settings.Program.empty())
        settings.Program = program;
    settings.Arguments = UnitRunArguments(options);
    settings.Addresses = addresses;
    settings.Jobs = options.Jobs;
    settings.Verify = options.Verify;
    try {
        // A file that cannot be written stops the run before any unit is
        // touched; the check leaves the file as it is until the run's end.
        if (!options.Json.empty())
            CheckResultsFile(options.Json,
                             options.Folder.empty() ? ProgramFolder() : options.Folder,
                             {options.AddressFile, options.Manifest});
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: --json: %s\n", EscapeControls(e.Message()).c_str());
        return esUsage;
    }
    // Each running unit holds files open in this program: a --jobs that the
    // system's limit cannot hold would fail units at their start instead.
    const std::size_t atOnce =
        std::min(static_cast<std::size_t>(std::max(options.Jobs, 1)), addresses.size());
    if (const auto room = ChildProcessRoom(); room && atOnce > *room) {
        std::fprintf(stderr,
                     "error: --jobs %d: the system's limit of open files (ulimit -n) leaves "
                     "room for %zu units at once\n",
                     options.Jobs, *room);
        return esUsage;
    }
    std::vector<TUnitResult> results;
    int status = RunFleet(settings, results);
    std::fputs(ResultTable(results).c_str(), stdout);
    std::fflush(stdout);
    try {
        if (!options.Json.empty())
            WriteResultsFile(options.Json, results);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: --json: %s\n", EscapeControls(e.Message()).c_str());
        status = status == esDone ? esFailed : status;
    }
    // A signal after the last unit's end is still the fleet's end: the
    // table and the file are out, and the status says what ended it.
    if (const int signal = TakeInterrupt(std::chrono::nanoseconds::zero());
        signal != 0 && status < esSignalled)
        status = esSignalled + signal;
    return status;
}
