// unit-sim-host: runs simulated units for test programs that cannot run one
// themselves (the Windows tests under Wine): listens on one loopback address
// and port, and runs one TUnitSim per connection, as UnitSimWire.h describes,
// until SIGINT or SIGTERM. Loopback addresses only, like the units.
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <thread>

#include "tools/StopSignals.h"
#include "tools/unit-sim/UnitSimWire.h"

namespace {

/// One connection's unit, from its settings to the connection's end.
void Serve(int fd) {
    TUnitSimWire wire{[fd](const char* data, std::size_t n) {
                          for (std::size_t sent = 0; sent < n;) {
                              const ssize_t k = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
                              if (k <= 0)
                                  throw std::runtime_error("unit-sim-host: send failed");
                              sent += static_cast<std::size_t>(k);
                          }
                      },
                      [fd](char* data, std::size_t n) -> std::size_t {
                          const ssize_t k = ::recv(fd, data, n, 0);
                          return k > 0 ? static_cast<std::size_t>(k) : 0;
                      }};
    try {
        TUnitSim unit(DecodeSettings(wire.Receive()));
        wire.Send(unit.StoreFolder());
        for (;;) {
            const std::string command = wire.Receive();
            if (command == "start") {
                try {
                    unit.Start();
                    wire.Send("ok");
                } catch (const std::exception& e) {
                    wire.Send(e.what());
                }
            } else if (command == "stop") {
                unit.Stop();
                wire.Send("ok");
            } else if (command == "homepage") {
                unit.SetHomePage(wire.Receive());
                wire.Send("ok");
            } else if (command == "requests") {
                wire.Send(JoinWireLines(unit.Requests()));
            } else if (command == "useragents") {
                wire.Send(JoinWireLines(unit.UserAgents()));
            } else if (command == "clienterrors") {
                wire.Send(JoinWireLines(unit.ClientErrors()));
            } else if (command == "reboots") {
                wire.Send(std::to_string(unit.Reboots()));
            } else if (command == "images") {
                const auto images = unit.Images();
                wire.Send(std::to_string(images.size()));
                for (const TReceivedImage& image : images) {
                    wire.Send(image.RemoteName);
                    wire.Send(image.Path);
                    wire.Send(std::to_string(image.Size));
                    wire.Send(std::to_string(image.BlockSize));
                }
            } else {
                wire.Send("unknown command " + command);
            }
        }
    } catch (const std::exception&) {
        // The test program closed the connection: its unit stopped with it,
        // and its store folder is gone, before the close below tells so.
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    std::string address;
    std::uint16_t port = 0;
    CLI::App app{"Runs simulated units for test programs across loopback, one per connection."};
    app.add_option("--address", address, "Address to listen on, in 127.0.0.0/8")->required();
    app.add_option("--port", port, "Port to listen on")->required();
    CLI11_PARSE(app, argc, argv);

    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
        (ntohl(sa.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "unit-sim-host: a 127.0.0.0/8 address expected\n");
        return 2;
    }
    const TStopSignals stop; // before any thread starts

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listener, 16) != 0) {
        std::perror("unit-sim-host: listen");
        return 1;
    }
    std::thread([listener] {
        for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            std::thread(Serve, fd).detach();
    }).detach();
    std::printf("unit-sim-host %s:%u\n", address.c_str(), port);
    std::fflush(stdout);
    stop.Wait();
    return 0;
}
