// A loopback UDP peer for the net tests, on plain POSIX sockets so that what
// the library sends and receives is checked against an independent party.
// Only loopback addresses (127.0.0.x, ::1) belong here.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "net/IdGlobal.h"

class UdpPeer {
public:
    /// Binds a datagram socket to AIP (IPv4 dotted or "::1") and APort (0: any).
    explicit UdpPeer(const std::string& AIP, std::uint16_t APort = 0) : ip_(AIP) {
        v6_ = AIP.find(':') != std::string::npos;
        fd_ = ::socket(v6_ ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket failed");
        sockaddr_storage a = Address(AIP, APort);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), Length()) != 0) {
            ::close(fd_);
            throw std::runtime_error("bind failed: " + AIP);
        }
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(v6_ ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& IP() const { return ip_; }

    void SendTo(const std::string& AIP, std::uint16_t APort, const TIdBytes& AData) {
        sockaddr_storage a = Address(AIP, APort);
        if (::sendto(fd_, AData.data(), AData.size(), 0, reinterpret_cast<sockaddr*>(&a),
                     Length()) != static_cast<ssize_t>(AData.size()))
            throw std::runtime_error("sendto failed");
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
        sockaddr_storage from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, d.data.data(), d.data.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        d.data.resize(static_cast<std::size_t>(n));
        d.fromPort =
            ntohs(from.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&from)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&from)->sin_port);
        return d;
    }

private:
    sockaddr_storage Address(const std::string& AIP, std::uint16_t APort) const {
        sockaddr_storage a{};
        if (v6_) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(APort);
            ::inet_pton(AF_INET6, AIP.c_str(), &in6->sin6_addr);
        } else {
            auto* in = reinterpret_cast<sockaddr_in*>(&a);
            in->sin_family = AF_INET;
            in->sin_port = htons(APort);
            ::inet_pton(AF_INET, AIP.c_str(), &in->sin_addr);
        }
        return a;
    }
    socklen_t Length() const { return v6_ ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

    std::string ip_;
    bool v6_ = false;
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
