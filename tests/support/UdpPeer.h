// The tests' UDP peer on a loopback socket: the test drives it step by step
// (receive with a time-out, reply to a sender, send to a port) and it records
// every datagram it received, with the TFTP packet builders the scripts use.
// Plain POSIX sockets on purpose: the peer must not share code with the
// endpoint under test. Only 127.0.0.0/8 addresses belong here.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/IdGlobal.h"

struct Datagram {
    TIdBytes Bytes;
    std::string IP;
    std::uint16_t Port = 0;

    std::uint16_t Word(std::size_t offset) const {
        return static_cast<std::uint16_t>((Bytes.at(offset) << 8) | Bytes.at(offset + 1));
    }
    std::uint16_t Opcode() const { return Word(0); }
    std::string Text() const { return std::string(Bytes.begin(), Bytes.end()); }
};

class TUdpPeer {
public:
    /// Binds a datagram socket to ip and port (0: any free one).
    explicit TUdpPeer(const std::string& ip = "127.0.0.60", std::uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("peer: socket");
        sockaddr_in a = Address(ip, port);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(fd_);
            throw std::runtime_error("peer: bind " + ip);
        }
        ip_ = ip;
        port_ = ntohs(a.sin_port);
    }
    ~TUdpPeer() { ::close(fd_); }
    TUdpPeer(const TUdpPeer&) = delete;
    TUdpPeer& operator=(const TUdpPeer&) = delete;

    const std::string& IP() const { return ip_; }
    std::uint16_t Port() const { return port_; }

    /// The next datagram within ms milliseconds, recorded in Log; none on a time-out.
    std::optional<Datagram> Receive(int ms = 3000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return std::nullopt;
        Datagram d;
        d.Bytes.resize(65536);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, d.Bytes.data(), d.Bytes.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        d.Bytes.resize(static_cast<std::size_t>(n));
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        d.IP = text;
        d.Port = ntohs(from.sin_port);
        if (Recording)
            Log.push_back(d);
        return d;
    }

    void SendTo(const std::string& ip, std::uint16_t port, const TIdBytes& bytes) {
        const sockaddr_in to = Address(ip, port);
        if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("peer: sendto");
    }
    void Reply(const Datagram& to, const TIdBytes& bytes) { SendTo(to.IP, to.Port, bytes); }

    std::vector<Datagram> Log;
    bool Recording = true;

private:
    static sockaddr_in Address(const std::string& ip, std::uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1)
            throw std::runtime_error("peer: address " + ip);
        return a;
    }

    int fd_ = -1;
    std::string ip_;
    std::uint16_t port_ = 0;
};

/// Bytes of a text, embedded zeros included ("\0" written as std::string_view literals).
inline TIdBytes Bytes(std::string_view text) {
    return TIdBytes(text.begin(), text.end());
}

inline TIdBytes Words(std::initializer_list<std::uint16_t> words, std::string_view tail = {}) {
    TIdBytes b;
    for (const std::uint16_t w : words) {
        b.push_back(static_cast<std::uint8_t>(w >> 8));
        b.push_back(static_cast<std::uint8_t>(w & 0xFF));
    }
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

inline TIdBytes Ack(std::uint16_t block) {
    return Words({4, block});
}
