// unit-sim: runs the simulated unit on one loopback address until SIGINT or
// SIGTERM. Argument parsing only; the unit itself is TUnitSim.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "runtime/Console.h"
#include "tools/StopSignals.h"
#include "tools/udp-relay/LossOptions.h"
#include "tools/unit-sim/UnitSim.h"

int main(int argc, char** argv) {
    OpenClosedStandardStreams();
    TUnitSimSettings settings;
    settings.Print = true;
    settings.Store = ".";
    double rebootSeconds = 3;
    std::string oack = "grant";
    std::string error;

    CLI::App app{"A simulated unit: web server with the revision marker and commands, "
                 "TFTP server for the images. Loopback addresses only."};
    app.set_version_flag("--version", std::string("unit-sim ") + LOADER_VERSION);
    app.add_option("--address", settings.Address, "Address to listen on, in 127.0.0.0/8")
        ->required();
    app.add_option("--revision", settings.Revision, "Text of the revision marker")
        ->capture_default_str();
    app.add_option("--reboot-seconds", rebootSeconds, "Downtime of the web server at a reboot")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--store", settings.Store, "Folder that receives the images")
        ->capture_default_str()
        ->check(CLI::ExistingDirectory);
    app.add_option("--http-port", settings.HttpPort, "Port of the web server")
        ->capture_default_str();
    app.add_option("--tftp-port", settings.TftpPort, "Port of the TFTP server")
        ->capture_default_str();
    app.add_flag("--tftp-on", settings.TftpEnabled, "TFTP on from the start");
    app.add_flag("--tftp-silent", settings.TftpSilent, "Fault: write requests get no answer");
    app.add_option("--tftp-error", error, "Fault: answer every write request with ERROR CODE:TEXT");
    app.add_option("--oack", oack, "Answer to the options: grant, none (ACK 0) or a block size")
        ->capture_default_str();
    app.add_flag("--reply-from-other-port", settings.ReplyFromOtherPort,
                 "Fault: answer transfers from an ephemeral port");
    app.add_flag("--never-back", settings.NeverComesBack,
                 "Fault: the web server stays down after a reboot");
    app.add_flag("--dies-with-program", settings.DiesWithProgram,
                 "Fault: the web server stays down after the reboot into a program image");
    AddLossOptions(app, settings.Loss); // a lossy link in front of the TFTP server
    CLI11_PARSE(app, argc, argv);

    settings.RebootTime =
        std::chrono::milliseconds(static_cast<std::int64_t>(rebootSeconds * 1000));
    if (!error.empty()) {
        const auto colon = error.find(':');
        try {
            settings.ErrorCode = std::stoi(error.substr(0, colon));
        } catch (const std::exception&) {
            std::fprintf(stderr, "--tftp-error: CODE:TEXT expected\n");
            return 2;
        }
        settings.ErrorText = colon == std::string::npos ? "" : error.substr(colon + 1);
    }
    if (oack == "none") {
        settings.Oack = TOackMode::omIgnoreOptions;
    } else if (oack != "grant") {
        settings.Oack = TOackMode::omForceBlockSize;
        try {
            settings.ForcedBlockSize = static_cast<std::uint16_t>(std::stoul(oack));
        } catch (const std::exception&) {
            std::fprintf(stderr, "--oack: grant, none or a block size expected\n");
            return 2;
        }
    }

    const TStopSignals stop; // before any thread starts

    TUnitSim unit(settings);
    try {
        unit.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unit-sim: %s\n", e.what());
        return 1;
    }
    stop.Wait();
    unit.Stop();
    return 0;
}
