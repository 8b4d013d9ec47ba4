// The tests' platform calls on POSIX: the UDP peer on plain BSD sockets, a
// writer's hold as the exclusive lock that a writer playing by the rules
// takes, a FIFO and devices for files that are none, the process id, a
// signal to the parent, a pipe without a reader, a pidfd and the subreaper
// role for an orphan, a file-size limit for failing writes, and tftpd-hpa
// started and stopped by its pid.
#include "tests/support/Platform.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/UdpPeer.h"

namespace {

sockaddr_in Address(const std::string& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1)
        throw std::runtime_error("peer: address " + ip);
    return a;
}

int Fd(std::intptr_t socket) {
    return static_cast<int>(socket);
}

} // namespace

TUdpPeer::TUdpPeer(const std::string& ip, std::uint16_t port) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        throw std::runtime_error("peer: socket");
    sockaddr_in a = Address(ip, port);
    socklen_t len = sizeof a;
    if (::bind(Fd(socket_), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(Fd(socket_), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(Fd(socket_));
        throw std::runtime_error("peer: bind " + ip);
    }
    ip_ = ip;
    port_ = ntohs(a.sin_port);
}

TUdpPeer::~TUdpPeer() {
    ::close(Fd(socket_));
}

std::optional<Datagram> TUdpPeer::Receive(int ms) {
    pollfd p{Fd(socket_), POLLIN, 0};
    if (::poll(&p, 1, ms) != 1)
        return std::nullopt;
    Datagram d;
    d.Bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(Fd(socket_), d.Bytes.data(), d.Bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return std::nullopt;
    d.Bytes.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return Keep(std::move(d), text, ntohs(from.sin_port));
}

void TUdpPeer::SendTo(const std::string& ip, std::uint16_t port, const TIdBytes& bytes) {
    const sockaddr_in to = Address(ip, port);
    if (::sendto(Fd(socket_), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("peer: sendto");
}

// POSIX has no mandatory sharing modes: a writer that plays by the rules
// takes the exclusive lock first.
TWriterHold::TWriterHold(const std::string& path) {
    handle_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (handle_ < 0 || ::flock(Fd(handle_), LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot hold " + path);
}

TWriterHold::~TWriterHold() {
    ::close(Fd(handle_));
}

bool WriterAdmitted(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    const bool admitted = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return admitted;
}

TSpecialFiles::TSpecialFiles(const std::string& folder) {
    if (::mkfifo((folder + "pipe.bin").c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a pipe in " + folder);
    std::filesystem::create_symlink("/dev/urandom", folder + "random.bin");
    paths_ = {folder + "pipe.bin", folder + "random.bin", "/dev/null"};
    ::alarm(20);
}

TSpecialFiles::~TSpecialFiles() {
    ::alarm(0);
}

std::string ProcessTag() {
    return std::to_string(::getpid());
}

void EndAsCtrlCWould() {
    std::signal(SIGINT, SIG_DFL);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    std::raise(SIGINT);
    std::_Exit(1); // not reached
}

std::string CtrlCUnavailable() {
    return "";
}

bool SignalParent(int signal) {
    return ::kill(::getppid(), signal) == 0;
}

bool LeadsItsOwnProcessGroup(TChildProcess& child) {
    const auto pid = static_cast<pid_t>(child.Id());
    return ::getpgid(pid) == pid;
}

bool SignalChild(TChildProcess& child, int signal) {
    return !child.Ended() && ::kill(static_cast<pid_t>(child.Id()), signal) == 0;
}

int WriteToClosedPipe() {
    int ends[2];
    if (::pipe(ends) != 0)
        throw std::runtime_error("cannot make a pipe");
    ::close(ends[0]);
    const int error = ::write(ends[1], "x", 1) < 0 ? errno : 0;
    ::close(ends[1]);
    return error;
}

TOrphanWatch::TOrphanWatch(const std::string& pid) : pid_(std::stoll(pid)) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    watch_ = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid_), 0);
    if (watch_ < 0)
        throw std::runtime_error("cannot watch process " + pid);
}

TOrphanWatch::~TOrphanWatch() {
    if (!ended_) {
        ::syscall(SYS_pidfd_send_signal, static_cast<int>(watch_), SIGKILL, nullptr, 0);
        ::waitpid(static_cast<pid_t>(pid_), nullptr, 0); // ECHILD at once unless it is ours
    }
    ::close(static_cast<int>(watch_));
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

int TOrphanWatch::WaitForEnd(std::chrono::milliseconds limit) {
    pollfd ended{static_cast<int>(watch_), POLLIN, 0};
    int status = 0;
    if (::poll(&ended, 1, static_cast<int>(limit.count())) != 1 ||
        ::waitpid(static_cast<pid_t>(pid_), &status, 0) != pid_)
        return -1;
    ended_ = true;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TFailingWrites::TFailingWrites(const std::string&) {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    saved_ = static_cast<std::int64_t>(limit.rlim_cur);
    limit.rlim_cur = 0;
    std::signal(SIGXFSZ, SIG_IGN);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("cannot limit the file size");
}

TFailingWrites::~TFailingWrites() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(saved_);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
}

namespace {
constexpr const char* kTftpd = "/usr/sbin/in.tftpd";
}

std::string TTftpdHpa::Missing() {
    return ::access(kTftpd, X_OK) == 0
               ? ""
               : std::string(kTftpd) +
                     " (tftpd-hpa) is not installed; scripts/install-deps.sh installs it";
}

TTftpdHpa::TTftpdHpa(const std::string& ip) : ip_(ip) {
    namespace fs = std::filesystem;
    root_ = fs::temp_directory_path() / ("tftpd-root-" + ProcessTag());
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms::all); // the server may run as another user
    port_ = TUdpPeer(ip).Port();            // free now, and ephemeral ports are not reused at once
    const std::string address = ip + ":" + std::to_string(port_);
    const std::string root = root_.string();
    const char* argv[] = {kTftpd, "-L",   "-a", address.c_str(), "-c",
                          "-u",   "root", "-s", root.c_str(),    nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, kTftpd, nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0)
        pid_ = pid;
}

TTftpdHpa::~TTftpdHpa() {
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool TTftpdHpa::Ready() {
    return pid_ > 0 && AnswersReadRequests(ip_, port_);
}
