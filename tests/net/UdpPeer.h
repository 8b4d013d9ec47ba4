// A loopback UDP peer for the net tests, on plain POSIX sockets so that what
// the library sends and receives is checked against an independent party.
// Only 127.0.0.x addresses belong here.
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

#include "net/IdGlobal.h"

class UdpPeer {
public:
    /// Binds a datagram socket to AIP and APort (0: any).
    explicit UdpPeer(const std::string& AIP, std::uint16_t APort = 0) : ip_(AIP) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(AIP, APort);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(fd_);
            throw std::runtime_error("cannot bind a test peer to " + AIP);
        }
        port_ = ntohs(a.sin_port);
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& IP() const { return ip_; }

    void SendTo(const std::string& AIP, std::uint16_t APort, const TIdBytes& AData) {
        sockaddr_in a = Address(AIP, APort);
        if (::sendto(fd_, AData.data(), AData.size(), 0, reinterpret_cast<sockaddr*>(&a),
                     sizeof a) != static_cast<ssize_t>(AData.size()))
            throw std::runtime_error("test peer could not send");
    }

    struct Datagram {
        TIdBytes data;
        std::uint16_t fromPort;
    };

    /// One datagram, or none within AMSec milliseconds.
    std::optional<Datagram> Receive(int AMSec = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, AMSec) != 1)
            return std::nullopt;
        Datagram d{TIdBytes(65536), 0};
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, d.data.data(), d.data.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        d.data.resize(static_cast<std::size_t>(n));
        d.fromPort = ntohs(from.sin_port);
        return d;
    }

private:
    static sockaddr_in Address(const std::string& AIP, std::uint16_t APort) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(APort);
        ::inet_pton(AF_INET, AIP.c_str(), &a.sin_addr);
        return a;
    }

    std::string ip_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

/// Asserts the exception type and its message together.
#define EXPECT_THROW_MSG(statement, type, message)                                                 \
    do {                                                                                           \
        try {                                                                                      \
            statement;                                                                             \
            ADD_FAILURE() << "no " #type " thrown";                                                \
        } catch (const type& e) {                                                                  \
            EXPECT_EQ(std::string(e.what()), std::string(message));                                \
        }                                                                                          \
    } while (0)
