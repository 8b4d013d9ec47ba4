// bench-helper: the measuring parts of the TFTP benchmark.
//   bench-helper floor IP REQUEST REPLY COUNT
//       the round-trip floor of a lock-step UDP exchange on loopback: a forked
//       echo peer answers every datagram of REQUEST bytes with REPLY bytes;
//       prints "<mean round trip us> <total s>". Bare POSIX sockets on purpose:
//       the floor must not include the socket layer under measurement.
//   bench-helper free-port IP
//       prints a UDP port free on IP now.
//   bench-helper put IP PORT BLKSIZE FILE NAME
//       the bare TFTP client, the floor that tftp-put is measured against:
//       one write request asking for BLKSIZE, then per block exactly one
//       read of the file, one send and one blocking receive on a socket
//       connected to the server's port, and nothing else (no progress, no
//       checks beyond the ACK's block number, no cancel). Exits 1 on any
//       surprise, after 5 s of silence at the latest.
//   bench-helper measure COMMAND [ARGS...]
//       runs COMMAND (killed after 120 s) and prints "<wall s> <CPU s> <peak
//       KiB>" with microsecond CPU figures from wait4, finer than time(1).
//   bench-helper tree-memory SECONDS COMMAND [ARGS...]
//       runs COMMAND (killed after SECONDS) and samples it and every process
//       below it from /proc every 100 ms (smaps_rollup, and VmPTE from
//       status): the peak sums of Rss, Pss, private pages (Private_Clean +
//       Private_Dirty) and page tables over the whole tree, the most
//       processes seen at once, and the same sums over the processes below
//       COMMAND alone at the sample where their Pss peaked, with their count,
//       and COMMAND's own peak resident memory (VmHWM). Prints one line of
//       "name=value" (KiB, seconds) and exits with COMMAND's status.
// Loopback addresses only.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::exit(1);
}

int BoundSocket(const char* ip, sockaddr_in& addr) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Die("socket");
    addr = {};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, ip, &addr.sin_addr) != 1 ||
        (ntohl(addr.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "udp-floor: %s is not a loopback address\n", ip);
        std::exit(1);
    }
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        Die("bind");
    return fd;
}

pid_t measured = -1;

void KillMeasured(int) {
    if (measured > 0)
        ::kill(measured, SIGKILL);
}

/// Starts the command argv as measured, killed after seconds: every run
/// ends by itself.
void StartMeasured(char** argv, unsigned seconds) {
    measured = ::fork();
    if (measured < 0)
        Die("fork");
    if (measured == 0) {
        ::execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    std::signal(SIGALRM, KillMeasured);
    ::alarm(seconds);
}

int Measure(char** argv) {
    const auto start = std::chrono::steady_clock::now();
    StartMeasured(argv, 120);
    int status = 0;
    rusage usage{};
    while (::wait4(measured, &status, 0, &usage) < 0)
        if (errno != EINTR)
            Die("wait4");
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    std::printf("%.4f %.4f %ld\n", wall, secs(usage.ru_utime) + secs(usage.ru_stime),
                usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

/// Memory figures of one process or a sum of them, in KiB.
struct TMemory {
    long Rss = 0, Pss = 0, Private = 0, PageTables = 0;
    TMemory& operator+=(const TMemory& m) {
        Rss += m.Rss;
        Pss += m.Pss;
        Private += m.Private;
        PageTables += m.PageTables;
        return *this;
    }
};

/// The "Name: value" fields of a /proc file (values in kB where they have a unit).
std::map<std::string, long> ProcFields(const std::string& path) {
    std::map<std::string, long> fields;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            fields[line.substr(0, colon)] = std::strtol(line.c_str() + colon + 1, nullptr, 10);
    }
    return fields;
}

/// False for a process that has ended meanwhile (its files read empty).
bool ReadMemory(pid_t pid, TMemory& m) {
    const auto rollup = ProcFields("/proc/" + std::to_string(pid) + "/smaps_rollup");
    if (!rollup.count("Rss"))
        return false;
    m.Rss = rollup.at("Rss");
    m.Pss = rollup.at("Pss");
    m.Private = rollup.at("Private_Clean") + rollup.at("Private_Dirty");
    m.PageTables = ProcFields("/proc/" + std::to_string(pid) + "/status")["VmPTE"];
    return true;
}

/// Every process below root now, from each process's parent in /proc/PID/stat.
std::vector<pid_t> Descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
            if (pid <= 0)
                continue;
            std::ifstream in("/proc/" + std::string(entry->d_name) + "/stat");
            std::string stat;
            std::getline(in, stat);
            // The parent follows the name in parentheses, which may hold anything.
            const auto close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream rest(stat.substr(close + 1));
            std::string state;
            pid_t parent = 0;
            rest >> state >> parent;
            children.emplace(parent, pid);
        }
        ::closedir(proc);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> next = {root};
    while (!next.empty()) {
        const pid_t pid = next.back();
        next.pop_back();
        const auto [begin, end] = children.equal_range(pid);
        for (auto it = begin; it != end; ++it) {
            found.push_back(it->second);
            next.push_back(it->second);
        }
    }
    return found;
}

int TreeMemory(long seconds, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    StartMeasured(argv, static_cast<unsigned>(seconds));
    TMemory peak, below;
    long mostProcesses = 0, belowCount = 0, ownPeak = 0;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(measured, &status, WNOHANG);
        if (done == measured || (done < 0 && errno != EINTR))
            break;
        TMemory all, children;
        long count = 0, childCount = 0;
        if (TMemory m; ReadMemory(measured, m)) {
            all += m;
            ++count;
            ownPeak = std::max(
                ownPeak, ProcFields("/proc/" + std::to_string(measured) + "/status")["VmHWM"]);
        }
        for (const pid_t pid : Descendants(measured)) {
            if (TMemory m; ReadMemory(pid, m)) {
                all += m;
                children += m;
                ++count;
                ++childCount;
            }
        }
        peak.Rss = std::max(peak.Rss, all.Rss);
        peak.Pss = std::max(peak.Pss, all.Pss);
        peak.Private = std::max(peak.Private, all.Private);
        peak.PageTables = std::max(peak.PageTables, all.PageTables);
        mostProcesses = std::max(mostProcesses, count);
        if (children.Pss > below.Pss) {
            below = children;
            belowCount = childCount;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("wall=%.3f processes=%ld rss=%ld pss=%ld private=%ld pte=%ld own_hwm=%ld "
                "children=%ld children_rss=%ld children_pss=%ld children_private=%ld "
                "children_pte=%ld\n",
                wall, mostProcesses, peak.Rss, peak.Pss, peak.Private, peak.PageTables, ownPeak,
                belowCount, below.Rss, below.Pss, below.Private, below.PageTables);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int Floor(const char* ip, std::size_t request, std::size_t reply, long count) {
    sockaddr_in echoAddr, clientAddr;
    const int echo = BoundSocket(ip, echoAddr);
    const int client = BoundSocket(ip, clientAddr);
    std::vector<char> buf(65536, 'x');
    // Neither side waits longer than this for a datagram: loopback does not
    // lose them, but the benchmark must end by itself whatever happens.
    const timeval limit{5, 0};
    ::setsockopt(echo, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    const pid_t child = ::fork();
    if (child < 0)
        Die("fork");
    if (child == 0) {
        ::close(client);
        for (long i = 0; i < count; ++i) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (::recvfrom(echo, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from),
                           &len) < 0 ||
                ::sendto(echo, buf.data(), reply, 0, reinterpret_cast<sockaddr*>(&from), len) < 0)
                _exit(1);
        }
        _exit(0);
    }
    ::close(echo);
    if (::connect(client, reinterpret_cast<sockaddr*>(&echoAddr), sizeof echoAddr) != 0)
        Die("connect");

    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        if (::send(client, buf.data(), request, 0) < 0 ||
            ::recv(client, buf.data(), buf.size(), 0) < 0)
            Die("round trip");
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("%.2f %.3f\n", secs / static_cast<double>(count) * 1e6, secs);
    return 0;
}

int Put(const char* ip, const char* port, const char* blksize, const char* file, const char* name) {
    const long blockSize = std::strtol(blksize, nullptr, 10);
    const int source = ::open(file, O_RDONLY | O_CLOEXEC);
    if (source < 0)
        Die(file);
    const long size = ::lseek(source, 0, SEEK_END);
    ::lseek(source, 0, SEEK_SET);
    sockaddr_in server;
    const int fd = BoundSocket("127.0.0.1", server);
    if (::inet_pton(AF_INET, ip, &server.sin_addr) != 1 ||
        (ntohl(server.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "put: %s is not a loopback address\n", ip);
        return 1;
    }
    server.sin_port = htons(static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10)));
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    // The request: opcode 2, name, mode and the two options, each text with its zero.
    std::string request("\0\2", 2);
    for (const std::string& text :
         {std::string(name), std::string("octet"), std::string("blksize"), std::string(blksize),
          std::string("tsize"), std::to_string(size)})
        request.append(text).push_back('\0');
    std::vector<unsigned char> packet(65536 + 4);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server),
                 sizeof server) < 0 ||
        ::recvfrom(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&from), &len) <
            4 ||
        packet[1] != 6 || ::connect(fd, reinterpret_cast<sockaddr*>(&from), len) != 0) {
        std::fprintf(stderr, "put: no option acknowledgement (blksize %ld asked)\n", blockSize);
        return 1;
    }
    for (unsigned block = 1;; ++block) {
        const ssize_t n = ::read(source, packet.data() + 4, static_cast<std::size_t>(blockSize));
        packet[0] = 0;
        packet[1] = 3;
        packet[2] = static_cast<unsigned char>(block >> 8);
        packet[3] = static_cast<unsigned char>(block);
        unsigned char ack[516];
        if (n < 0 || ::send(fd, packet.data(), static_cast<std::size_t>(n) + 4, 0) < 0 ||
            ::recv(fd, ack, sizeof ack, 0) < 4 || ack[1] != 4 || ack[2] != packet[2] ||
            ack[3] != packet[3]) {
            std::fprintf(stderr, "put: block %u not acknowledged\n", block);
            return 1;
        }
        if (n < blockSize)
            return 0;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "measure" && argc > 2)
        return Measure(argv + 2);
    if (mode == "tree-memory" && argc > 3 && std::strtol(argv[2], nullptr, 10) > 0)
        return TreeMemory(std::strtol(argv[2], nullptr, 10), argv + 3);
    if (mode == "free-port" && argc == 3) {
        sockaddr_in a;
        const int fd = BoundSocket(argv[2], a);
        std::printf("%u\n", ntohs(a.sin_port));
        ::close(fd);
        return 0;
    }
    if (mode == "put" && argc == 7)
        return Put(argv[2], argv[3], argv[4], argv[5], argv[6]);
    if (mode == "floor" && argc == 6)
        return Floor(argv[2], std::strtoul(argv[3], nullptr, 10),
                     std::strtoul(argv[4], nullptr, 10), std::strtol(argv[5], nullptr, 10));
    std::fprintf(stderr, "usage: bench-helper floor IP REQUEST REPLY COUNT | free-port IP | "
                         "put IP PORT BLKSIZE FILE NAME | measure COMMAND [ARGS...] | "
                         "tree-memory SECONDS COMMAND [ARGS...]\n");
    return 2;
}
