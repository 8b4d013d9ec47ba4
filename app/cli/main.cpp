// tftp-loader-cli: the loader without a screen. Parses the arguments and
// runs once; the run itself is RunCli's.
#include <CLI/CLI.hpp>

#include "app/cli/TftpLoaderCli.h"

int main(int argc, char** argv) {
    TCliOptions options;
    CLI::App app{"Updates a unit over HTTP and TFTP without a window: connects, scans the "
                 "image folder and uploads the chosen web-page and program images."};
    app.set_version_flag("--version", std::string("tftp-loader-cli ") + LOADER_VERSION);
    AddCliOptions(app, options);
    // A mistaken command line gets the whole usage, not a pointer to it.
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        return "error: " + std::string(e.what()) + "\n\n" + failed->help();
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? esDone : esUsage;
    }
    return RunCli(options);
}
