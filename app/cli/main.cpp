// tftp-loader-cli: the loader without a screen. Parses the arguments (as
// UTF-8 on every platform) and runs once for one unit, or the fleet run for
// several; the runs themselves are RunCli's and RunFleetCli's.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "app/cli/Fleet.h"
#include "app/cli/TftpLoaderCli.h"
#include "runtime/Console.h"
#include "runtime/ProgramText.h"

int main(int argc, char** argv) {
    OpenClosedStandardStreams();
    UseUtf8Console();
    std::vector<std::string> args = ProgramArguments(argc, argv);
    std::vector<char*> words;
    for (std::string& arg : args)
        words.push_back(arg.data());
    TCliOptions options;
    CLI::App app{"Updates a unit over HTTP and TFTP without a window: connects, scans the "
                 "image folder and uploads the chosen web-page and program images."};
    // The same options on every platform: on Windows too a value that starts
    // with "/" is a value, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("tftp-loader-cli ") + LOADER_VERSION);
    AddCliOptions(app, options);
    // A mistaken command line gets the whole usage, not a pointer to it.
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        return "error: " + std::string(e.what()) + "\n\n" + failed->help();
    });
    std::vector<std::string> addresses;
    try {
        app.parse(static_cast<int>(words.size()), words.data());
        addresses = UnitAddresses(options);
        if (addresses.empty())
            throw CLI::RequiredError("--address"); // or --addresses, as the help says
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? esDone : esUsage;
    } catch (const EFleetUsage& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return esUsage;
    }
    if (addresses.size() == 1 && options.Json.empty())
        return RunCli(options, addresses[0]);
    return RunFleetCli(options, addresses, args[0]);
}
