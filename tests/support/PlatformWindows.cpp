// The tests' platform calls on Windows: the UDP peer on Windows Sockets
// (linked directly, unlike the stack under test, which loads the library at
// run time), a writer's hold as an open for writing that the platform's
// sharing modes judge, the NUL device and a named pipe for files that are
// none, the process id, a pipe without a reader, a process handle for an
// orphan, a hold that keeps a file from being replaced, and the tftpd-hpa
// that the test run started on the Linux side.
#include <winsock2.h>
#include <ws2tcpip.h>

// windows.h after the sockets' headers: before them it brings the old ones.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/Platform.h"
#include "tests/support/UdpPeer.h"

namespace {

/// Windows Sockets started once for the whole test program.
void StartSockets() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw std::runtime_error("peer: WSAStartup");
}

/// True when the program runs under Wine, whose ntdll says so.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

/// Where the peer binds. Wine binds a datagram socket meant for a loopback
/// address other than 127.0.0.1 to every address instead, so that what it
/// sends comes from 127.0.0.1, not from the address it was given; under Wine
/// the peer takes 127.0.0.1 itself, and its datagrams come from its IP().
std::string PeerBindAddress(const std::string& ip) {
    return UnderWine() && ip.rfind("127.", 0) == 0 ? "127.0.0.1" : ip;
}

sockaddr_in Address(const std::string& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1)
        throw std::runtime_error("peer: address " + ip);
    return a;
}

SOCKET Socket(std::intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

HANDLE OpenForWriting(const std::string& path) {
    // Others' readers and writers are let in: only a program that shuts
    // writers out is refused.
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TUdpPeer::TUdpPeer(const std::string& ip, std::uint16_t port) {
    StartSockets();
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        throw std::runtime_error("peer: socket");
    socket_ = static_cast<std::intptr_t>(s);
    ip_ = PeerBindAddress(ip);
    sockaddr_in a = Address(ip_, port);
    int len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::closesocket(s);
        throw std::runtime_error("peer: bind " + ip);
    }
    port_ = ntohs(a.sin_port);
}

TUdpPeer::~TUdpPeer() {
    ::closesocket(Socket(socket_));
}

std::optional<Datagram> TUdpPeer::Receive(int ms) {
    WSAPOLLFD p{Socket(socket_), POLLRDNORM, 0};
    if (::WSAPoll(&p, 1, ms) != 1)
        return std::nullopt;
    Datagram d;
    d.Bytes.resize(65536);
    sockaddr_in from{};
    int len = sizeof from;
    const int n =
        ::recvfrom(Socket(socket_), reinterpret_cast<char*>(d.Bytes.data()),
                   static_cast<int>(d.Bytes.size()), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return std::nullopt;
    d.Bytes.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return Keep(std::move(d), text, ntohs(from.sin_port));
}

void TUdpPeer::SendTo(const std::string& ip, std::uint16_t port, const TIdBytes& bytes) {
    const sockaddr_in to = Address(ip, port);
    if (::sendto(Socket(socket_), reinterpret_cast<const char*>(bytes.data()),
                 static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<int>(bytes.size()))
        throw std::runtime_error("peer: sendto");
}

TWriterHold::TWriterHold(const std::string& path) {
    const HANDLE h = OpenForWriting(path);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold " + path);
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

TWriterHold::~TWriterHold() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool WriterAdmitted(const std::string& path) {
    const HANDLE h = OpenForWriting(path);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

TSpecialFiles::TSpecialFiles(const std::string&) {
    // One instance that waits for its client: an open connects at once.
    const std::string pipe = "\\\\.\\pipe\\loader-test-" + ProcessTag();
    const HANDLE h = ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096,
                                        4096, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot make " + pipe);
    pipe_ = reinterpret_cast<std::intptr_t>(h);
    paths_ = {"NUL", pipe};
}

TSpecialFiles::~TSpecialFiles() {
    ::CloseHandle(reinterpret_cast<HANDLE>(pipe_));
}

std::string ProcessTag() {
    return std::to_string(::GetCurrentProcessId());
}

void EndAsCtrlCWould() {
    // What the console's default handler does on Ctrl-C.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

std::string CtrlCUnavailable() {
    // Wine's console server passes on CTRL_C_EVENT alone (CTRL_BREAK_EVENT
    // fails as not implemented), and only to processes of a console, which
    // a test program that ctest starts on pipes does not have.
    return UnderWine() ? "Wine delivers no Ctrl-Break to a child program, and no Ctrl-C without a "
                         "console"
                       : "";
}

bool SignalParent(int) {
    return false;
}

bool LeadsItsOwnProcessGroup(TChildProcess& /*child*/) {
    return true; // every child is started with CREATE_NEW_PROCESS_GROUP
}

bool SignalChild(TChildProcess& child, int signal) {
    if (signal != 2)
        return false;
    child.Interrupt();
    return true;
}

int WriteToClosedPipe() {
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, nullptr, 0))
        throw std::runtime_error("cannot make a pipe");
    ::CloseHandle(read);
    DWORD n = 0;
    const int error =
        ::WriteFile(write, "x", 1, &n, nullptr) ? 0 : static_cast<int>(::GetLastError());
    ::CloseHandle(write);
    return error;
}

TOrphanWatch::TOrphanWatch(const std::string& pid) : pid_(std::stoll(pid)) {
    const HANDLE h =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                      static_cast<DWORD>(pid_));
    if (!h)
        throw std::runtime_error("cannot watch process " + pid);
    watch_ = reinterpret_cast<std::intptr_t>(h);
}

TOrphanWatch::~TOrphanWatch() {
    const HANDLE h = reinterpret_cast<HANDLE>(watch_);
    if (!ended_)
        ::TerminateProcess(h, 1);
    ::CloseHandle(h);
}

int TOrphanWatch::WaitForEnd(std::chrono::milliseconds limit) {
    const HANDLE h = reinterpret_cast<HANDLE>(watch_);
    DWORD code = 0;
    if (::WaitForSingleObject(h, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(h, &code))
        return -1;
    ended_ = true;
    return static_cast<int>(code);
}

TFailingWrites::TFailingWrites(const std::string& path) {
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold " + path);
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

TFailingWrites::~TFailingWrites() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string TTftpdHpa::Missing() {
    return Environment("LOADER_TEST_TFTPD_PORT").empty() ||
                   Environment("LOADER_TEST_TFTPD_ROOT").empty()
               ? "no tftpd-hpa: scripts/test-windows.sh starts one and names it in "
                 "LOADER_TEST_TFTPD_PORT and LOADER_TEST_TFTPD_ROOT"
               : "";
}

TTftpdHpa::TTftpdHpa(const std::string& ip)
    : ip_(ip), root_(Environment("LOADER_TEST_TFTPD_ROOT")),
      port_(static_cast<std::uint16_t>(std::atoi(Environment("LOADER_TEST_TFTPD_PORT").c_str()))) {}

TTftpdHpa::~TTftpdHpa() = default;

bool TTftpdHpa::Ready() {
    return port_ != 0 && AnswersReadRequests(ip_, port_);
}
