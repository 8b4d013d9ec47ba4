// One run of the headless loader: the options and the user's part (address,
// folder, Connect, the list choices, Upload) played on a TCliWindow, and the
// outcome turned into the exit status.
#include "app/cli/TftpLoaderCli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fmt/format.h>

#include "app/Loader.h"
#include "app/WindowAntiFreeze.h"
#include "app/cli/CliWindow.h"
#include "runtime/Files.h"
#include "runtime/Process.h"

namespace {

/// The longest --wait-limit and --time-limit, in seconds (about 30 years):
/// the give-up time must stay within the clock's range, or the wait would
/// end at once.
constexpr double MaxSeconds = 1e9;

/// Checks a number of seconds from 0 to MaxSeconds; written so that "nan"
/// fails too.
std::string CheckSeconds(const std::string& text) {
    double seconds = -1;
    CLI::detail::lexical_cast(text, seconds);
    return seconds >= 0 && seconds <= MaxSeconds ? std::string()
                                                 : "a number of seconds from 0 to 1e9";
}

std::chrono::milliseconds Milliseconds(double seconds) {
    // 0 is no limit at all: a positive limit too short to count in
    // milliseconds is the shortest limit there is instead.
    const auto milliseconds = static_cast<std::int64_t>(seconds * 1000);
    return std::chrono::milliseconds(seconds > 0 ? std::max<std::int64_t>(milliseconds, 1) : 0);
}

/// Selects the entry named name (when given) or none; false when the name
/// is not in the list.
bool Choose(TCliWindow& window, TImageList list, const std::string& name, bool none) {
    if (none) {
        window.SetListItemIndex(list, -1);
        return true;
    }
    if (name.empty())
        return true;
    const auto& entries = window.Entries(list);
    const auto it = std::find(entries.begin(), entries.end(), name);
    if (it == entries.end())
        return false;
    window.SetListItemIndex(list, static_cast<int>(it - entries.begin()));
    return true;
}

} // namespace

void AddCliOptions(CLI::App& app, TCliOptions& options) {
    app.add_option("--address", options.Addresses,
                   "The unit's IPv4 address; given several times, the units of a fleet")
        ->allow_extra_args(false)
        ->check([](const std::string& text) {
            return MaskedAddressText(text) ? std::string()
                                           : "four groups of 1 to 3 digits, each 0 to 255";
        });
    app.add_option("--addresses", options.AddressFile,
                   "A file of unit addresses, one a line (blank lines and # comments ignored)");
    app.add_option("--jobs", options.Jobs,
                   "Units updated at once in a fleet (at most what the open-file limit allows)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--json", options.Json, "Write the table of a fleet's results to this file");
    app.add_flag("--report", options.Report)->group(""); // for the fleet run only
    app.add_option("--folder", options.Folder, "The image folder (default: the program's folder)");
    auto* pages = app.add_option("--pages", options.Pages, "The web page image to upload");
    auto* program = app.add_option("--program", options.Program, "The program image to upload");
    app.add_flag("--no-pages", options.NoPages, "Upload no web page image")->excludes(pages);
    app.add_flag("--no-program", options.NoProgram, "Upload no program image")->excludes(program);
    app.add_flag("--list", options.List, "Connect and list the images only");
    app.add_flag("--trace", options.Trace, "Show the trace on stderr");
    app.add_option("--retries", options.Retries,
                   "Re-sends of a TFTP packet whose reply does not come (0: each is sent once)")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    app.add_option("--wait-limit", options.WaitLimit,
                   "Seconds to wait for the unit to come back after a reboot")
        ->capture_default_str()
        ->check(CheckSeconds);
    app.add_flag("--verify", options.Verify,
                 "After the program image, wait (within --wait-limit) until the unit reports its "
                 "revision again; the update succeeds only then");
    app.add_option("--manifest", options.Manifest,
                   "A list of SHA-256 digests as sha256sum writes it: every image to be sent must "
                   "be in it with its digest, or the unit gets no command");
    app.add_option("--time-limit", options.TimeLimit,
                   "Seconds that the whole run (of each unit, in a fleet) may take; 0: no limit")
        ->capture_default_str()
        ->check(CheckSeconds);
}

std::vector<std::string> UnitRunArguments(const TCliOptions& options) {
    // Numbers as the parser reads them back exactly: no digit is lost.
    const auto number = [](double value) { return fmt::format("{}", value); };
    std::vector<std::string> args;
    if (!options.Folder.empty())
        args.insert(args.end(), {"--folder", options.Folder});
    if (options.NoPages)
        args.push_back("--no-pages");
    else if (!options.Pages.empty())
        args.insert(args.end(), {"--pages", options.Pages});
    if (options.NoProgram)
        args.push_back("--no-program");
    else if (!options.Program.empty())
        args.insert(args.end(), {"--program", options.Program});
    if (options.List)
        args.push_back("--list");
    if (options.Trace)
        args.push_back("--trace");
    if (options.Verify)
        args.push_back("--verify");
    if (!options.Manifest.empty())
        args.insert(args.end(), {"--manifest", options.Manifest});
    args.insert(args.end(),
                {"--wait-limit", number(options.WaitLimit), "--time-limit",
                 number(options.TimeLimit), "--retries", std::to_string(options.Retries)});
    return args;
}

int RunCli(const TCliOptions& options, const std::string& address) {
    TCliWindow window(options.Trace, options.Report);
    // A unit's run of a fleet must not outlive the fleet: the fleet's end,
    // however it comes, reaches it as a signal, and it ends its update
    // cleanly, telling its unit.
    if (options.Report)
        EndWithParent();
    TLoader loader(window);
    window.OnDirEditChange = [&loader] { loader.direditChange(); };
    window.OnInterrupt = [&loader] { loader.Cancel(); };
    // A transfer's wait for the unit is cut into quarter-second slices, and
    // between them a Ctrl-C is taken and ends the transfer, the unit told,
    // instead of after the reply's time-out.
    TWindowAntiFreeze antiFreeze(window, loader);
    window.Address = *MaskedAddressText(address);
    loader.WaitLimit = Milliseconds(options.WaitLimit);
    loader.SetTimeLimit(Milliseconds(options.TimeLimit));
    loader.IdTrivialFTP1.SetRetransmissions(options.Retries);
    loader.Verify = options.Verify;
    loader.ManifestFile = options.Manifest;

    // The outcome of the last run decides, never a line of its log.
    const auto status = [&window, &loader]() -> int {
        if (const int signal = window.InterruptSignal())
            return esSignalled + signal;
        if (window.ErrorShown())
            return esUsage;
        return loader.Outcome().Succeeded() ? esDone : esFailed;
    };

    if (!options.Folder.empty()) {
        // The scan would just find nothing; say why before the lists come out empty.
        if (!DirectoryExists(options.Folder))
            window.Warn("the folder " + options.Folder + " does not exist");
        window.SetDirEditText(options.Folder);
        if (window.InterruptSignal() || window.ErrorShown())
            return status();
    }
    loader.connectbutClick();
    window.Report(TReportKind::rcRevision, std::to_string(loader.HardwareRevision));
    if (!loader.Outcome().Succeeded())
        return status();

    if (!Choose(window, TImageList::ilWebPages, options.Pages, options.NoPages)) {
        window.ShowError("--pages: " + options.Pages + " is not a web page image of the folder");
        return esUsage;
    }
    if (!Choose(window, TImageList::ilPrograms, options.Program, options.NoProgram)) {
        window.ShowError("--program: " + options.Program + " is not a program image of the folder");
        return esUsage;
    }
    for (const TImageList list : {TImageList::ilWebPages, TImageList::ilPrograms}) {
        const int index = window.ListItemIndex(list);
        if (index >= 0)
            window.Report(list == TImageList::ilWebPages ? TReportKind::rcPages
                                                         : TReportKind::rcProgram,
                          window.ListItem(list, index));
    }
    if (options.List) {
        for (const auto& name : window.Entries(TImageList::ilWebPages))
            window.WriteLine(TConsoleStream::csOutput, "web page image: " + name);
        for (const auto& name : window.Entries(TImageList::ilPrograms))
            window.WriteLine(TConsoleStream::csOutput, "program image: " + name);
        return esDone;
    }
    // Rebooting the unit only to send it nothing is a mistake, unless asked for.
    if (window.ListItemIndex(TImageList::ilWebPages) < 0 &&
        window.ListItemIndex(TImageList::ilPrograms) < 0 &&
        !(options.NoPages && options.NoProgram)) {
        window.ShowError("nothing to upload: no web page image and no program image is chosen "
                         "(--no-pages --no-program reboot the unit without one)");
        return esUsage;
    }

    loader.uploadbutClick();
    window.EndStatus();
    return status();
}
