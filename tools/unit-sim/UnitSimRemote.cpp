// TUnitSim for the Windows test programs: the unit itself runs in
// unit-sim-host on the Linux side of the loopback (the units are Linux
// programs), one connection per unit, and every operation is a message to it
// (UnitSimWire.h). LOADER_UNIT_SIM_HOST names the host's ADDRESS:PORT; the
// store folder and the images' files travel as the Linux paths of the same
// files, which Wine translates both ways. The Linux build's TUnitSim is
// UnitSim.cpp.
#include <winsock2.h>
#include <ws2tcpip.h>

// windows.h after the sockets' headers: before them it brings the old ones.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "tools/unit-sim/UnitSimWire.h"

// The members that the Linux implementation serves from; here they stay
// empty (the host runs the loss rig in front of its unit).
namespace httplib {
class Server {};
} // namespace httplib
class TUdpRelay {};

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

/// Wine's own function of kernel32.dll by its name; none elsewhere.
template <class Function> Function WineFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

/// The Linux path of a Windows path, as Wine maps it; the path itself
/// elsewhere. Paths of the tests are ASCII.
std::string UnixPath(const std::string& path) {
    const auto toUnix = WineFunction<char* (*)(const wchar_t*)>("wine_get_unix_file_name");
    if (path.empty() || !toUnix)
        return path;
    const std::wstring wide(path.begin(), path.end());
    char* unix = toUnix(wide.c_str());
    if (!unix)
        return path;
    std::string result = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

/// The Windows path of a Linux path, as Wine maps it: the way back of UnixPath.
std::string DosPath(const std::string& path) {
    const auto toDos = WineFunction<wchar_t* (*)(const char*)>("wine_get_dos_file_name");
    if (path.empty() || !toDos)
        return path;
    wchar_t* dos = toDos(path.c_str());
    if (!dos)
        return path;
    std::string result;
    for (const wchar_t* c = dos; *c; ++c)
        result += static_cast<char>(*c);
    ::HeapFree(::GetProcessHeap(), 0, dos);
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
    TUnitSimWire wire = WireOf(control_);
    wire.Send(EncodeSettings(remote));
    store_ = DosPath(wire.Receive());
}

TUnitSim::~TUnitSim() {
    // Gone when the destructor returns, as a unit in the test program would
    // be: its ports free again and its own store folder removed. The host
    // closes its side only after that; a host that hangs is waited for 10 s.
    const SOCKET s = Connection(control_);
    ::shutdown(s, SD_SEND);
    const DWORD limit = 10000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    for (char rest[256]; ::recv(s, rest, sizeof rest, 0) > 0;) {
    }
    ::closesocket(s);
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
        image.Path = DosPath(wire.Receive());
        image.Size = std::stoull(wire.Receive());
        image.BlockSize = static_cast<unsigned>(std::stoul(wire.Receive()));
    }
    return images;
}

std::vector<std::string> TUnitSim::ClientErrors() const {
    return SplitWireLines(Ask(control_, "clienterrors"));
}

int TUnitSim::Reboots() const {
    return std::stoi(Ask(control_, "reboots"));
}
