// TUnitSim for the Windows test programs: the unit itself runs in
// unit-sim-host on the Linux side of the loopback (the units are Linux
// programs), one connection per unit, and every operation is a message to it
// (UnitSimWire.h). LOADER_UNIT_SIM_HOST names the host's ADDRESS:PORT; the
// store folder travels as the Linux path of the same folder, which Wine
// tells. The Linux build's TUnitSim is UnitSim.cpp.
#include <winsock2.h>
#include <ws2tcpip.h>

// windows.h after the sockets' headers: before them it brings the old ones.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "tools/unit-sim/UnitSimWire.h"

// The member that the Linux implementation serves from; here it stays empty.
namespace httplib {
class Server {};
} // namespace httplib

namespace {

SOCKET Connection(std::intptr_t control) {
    return static_cast<SOCKET>(control);
}

TUnitSimWire WireOf(std::intptr_t control) {
    const SOCKET s = Connection(control);
    return {[s](const char* data, std::size_t n) {
                for (std::size_t sent = 0; sent < n;) {
                    const int k = ::send(s, data + sent, static_cast<int>(n - sent), 0);
                    if (k <= 0)
                        throw std::runtime_error("unit-sim-host: send failed");
                    sent += static_cast<std::size_t>(k);
                }
            },
            [s](char* data, std::size_t n) -> std::size_t {
                const int k = ::recv(s, data, static_cast<int>(n), 0);
                return k > 0 ? static_cast<std::size_t>(k) : 0;
            }};
}

/// The Linux path of a Windows path, as Wine maps it; the path itself
/// elsewhere.
std::string UnixPath(const std::string& path) {
    using ToUnix = char* (*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (path.empty() || !toUnix)
        return path;
    std::wstring wide(path.begin(), path.end());
    char* unix = toUnix(wide.c_str());
    if (!unix)
        return path;
    std::string result = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

std::intptr_t Connect() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const char* host = std::getenv("LOADER_UNIT_SIM_HOST");
    const std::string text = host ? host : "";
    const auto colon = text.find(':');
    if (!started || colon == std::string::npos)
        throw std::runtime_error("no unit-sim-host: scripts/test-windows.sh starts one and "
                                 "names it in LOADER_UNIT_SIM_HOST");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
    ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &a.sin_addr);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET || ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::closesocket(s);
        throw std::runtime_error("cannot reach unit-sim-host at " + text);
    }
    return static_cast<std::intptr_t>(s);
}

std::string Ask(std::intptr_t control, std::string_view command) {
    TUnitSimWire wire = WireOf(control);
    wire.Send(command);
    return wire.Receive();
}

} // namespace

TUnitSim::TSocketFd::~TSocketFd() = default;

TUnitSim::TUnitSim(TUnitSimSettings settings)
    : settings_(std::move(settings)), tftpEnabled_(settings_.TftpEnabled) {
    TUnitSimSettings remote = settings_;
    remote.Store = UnixPath(settings_.Store);
    control_ = Connect();
    WireOf(control_).Send(EncodeSettings(remote));
}

TUnitSim::~TUnitSim() {
    // Stopped before the connection goes, so that its ports are free again
    // when the destructor returns, as with a unit in the test program.
    Stop();
    ::closesocket(Connection(control_));
}

bool TUnitSim::IsImageName(const std::string& name) {
    return name == "rrpages.bin" || name == "rrboot.bin" || name == "rrpages2.bin" ||
           name == "rrboot2.bin";
}

void TUnitSim::Start() {
    if (const std::string answer = Ask(control_, "start"); answer != "ok")
        throw std::runtime_error(answer);
}

void TUnitSim::Stop() noexcept {
    try {
        Ask(control_, "stop");
    } catch (const std::exception&) {
        // The host has gone: so has the unit.
    }
}

void TUnitSim::SetHomePage(std::string page) {
    TUnitSimWire wire = WireOf(control_);
    wire.Send("homepage");
    wire.Send(page);
    wire.Receive();
}

std::vector<std::string> TUnitSim::Requests() const {
    return SplitWireLines(Ask(control_, "requests"));
}

std::vector<std::string> TUnitSim::UserAgents() const {
    return SplitWireLines(Ask(control_, "useragents"));
}

std::vector<TReceivedImage> TUnitSim::Images() const {
    TUnitSimWire wire = WireOf(control_);
    wire.Send("images");
    std::vector<TReceivedImage> images(std::stoul(wire.Receive()));
    for (TReceivedImage& image : images) {
        image.RemoteName = wire.Receive();
        image.BlockSize = static_cast<unsigned>(std::stoul(wire.Receive()));
        const std::string data = wire.Receive();
        image.Data.assign(data.begin(), data.end());
    }
    return images;
}

int TUnitSim::Reboots() const {
    return std::stoi(Ask(control_, "reboots"));
}
