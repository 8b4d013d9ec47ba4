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
// Loopback addresses only.
#include <arpa/inet.h>
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
#include <string>
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

int Measure(char** argv) {
    const auto start = std::chrono::steady_clock::now();
    measured = ::fork();
    if (measured < 0)
        Die("fork");
    if (measured == 0) {
        ::execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    std::signal(SIGALRM, KillMeasured);
    ::alarm(120); // every run ends by itself
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
                         "put IP PORT BLKSIZE FILE NAME | measure COMMAND [ARGS...]\n");
    return 2;
}
