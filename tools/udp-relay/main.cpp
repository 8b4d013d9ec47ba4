// udp-relay: relays UDP between clients and one server on loopback, losing,
// duplicating, delaying and reordering datagrams as told, until SIGINT or
// SIGTERM; then prints what it did. Argument parsing only; the relay itself
// is TUdpRelay.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "runtime/Console.h"
#include "tools/StopSignals.h"
#include "tools/udp-relay/LossOptions.h"
#include "tools/udp-relay/UdpRelay.h"

int main(int argc, char** argv) {
    OpenClosedStandardStreams();
    TUdpRelaySettings settings;
    CLI::App app{"Relays UDP datagrams between clients and a server on loopback, through a lossy "
                 "link. Prints \"listening on ADDRESS:PORT\" once ready."};
    app.add_option("--listen", settings.ListenAddress, "Address clients send to, in 127.0.0.0/8")
        ->capture_default_str();
    app.add_option("--port", settings.ListenPort, "Port clients send to (0: any free one)")
        ->capture_default_str();
    app.add_option("--server", settings.ServerAddress, "The server's address, in 127.0.0.0/8")
        ->capture_default_str();
    app.add_option("--server-port", settings.ServerPort, "The server's port")->required();
    AddLossOptions(app, settings.Loss);
    CLI11_PARSE(app, argc, argv);

    const TStopSignals stop; // before any thread starts

    TUdpRelay relay(settings);
    try {
        relay.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "udp-relay: %s\n", e.what());
        return 1;
    }
    std::printf("listening on %s:%u\n", settings.ListenAddress.c_str(), relay.ListenPort());
    std::fflush(stdout);
    stop.Wait();
    relay.Stop();

    const TUdpRelayCounts c = relay.Counts();
    const char* names[] = {"to server", "to client"};
    for (int d = 0; d < 2; ++d)
        std::fprintf(stderr,
                     "udp-relay %s: %llu received, %llu dropped, %llu duplicated, %llu delayed, "
                     "%llu reordered\n",
                     names[d], static_cast<unsigned long long>(c.Received[d]),
                     static_cast<unsigned long long>(c.Dropped[d]),
                     static_cast<unsigned long long>(c.Duplicated[d]),
                     static_cast<unsigned long long>(c.Delayed[d]),
                     static_cast<unsigned long long>(c.Reordered[d]));
    return 0;
}
