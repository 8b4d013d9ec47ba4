// The tests' UDP peer on a loopback socket: the test drives it step by step
// (receive with a time-out, reply to a sender, send to a port) and it records
// every datagram it received, with the TFTP packet builders the scripts use.
// The system's sockets directly on purpose (tests/support/Platform*.cpp): the
// peer must not share code with the endpoint under test. Only 127.0.0.0/8
// addresses belong here.
#pragma once

#include <cstdint>
#include <optional>
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
    explicit TUdpPeer(const std::string& ip = "127.0.0.60", std::uint16_t port = 0);
    ~TUdpPeer();
    TUdpPeer(const TUdpPeer&) = delete;
    TUdpPeer& operator=(const TUdpPeer&) = delete;

    const std::string& IP() const { return ip_; }
    std::uint16_t Port() const { return port_; }

    /// The next datagram within ms milliseconds, recorded in Log; none on a time-out.
    std::optional<Datagram> Receive(int ms = 3000);

    void SendTo(const std::string& ip, std::uint16_t port, const TIdBytes& bytes);
    void Reply(const Datagram& to, const TIdBytes& bytes) { SendTo(to.IP, to.Port, bytes); }

    std::vector<Datagram> Log;
    bool Recording = true;

private:
    /// The received datagram with its sender, recorded in Log.
    Datagram Keep(Datagram d, const std::string& ip, std::uint16_t port) {
        d.IP = ip;
        d.Port = port;
        if (Recording)
            Log.push_back(d);
        return d;
    }

    std::intptr_t socket_ = -1;
    std::string ip_;
    std::uint16_t port_ = 0;
};

/// Bytes of a text, embedded zeros included ("\0" written as std::string_view literals).
inline TIdBytes Bytes(std::string_view text) {
    return TIdBytes(text.begin(), text.end());
}

inline TIdBytes Words(std::initializer_list<std::uint16_t> words, std::string_view tail = {}) {
    TIdBytes b;
    b.reserve(words.size() * 2 + tail.size());
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

/// True once a TFTP server at ip:port answers a read request for a missing
/// file (at most 5 seconds).
inline bool AnswersReadRequests(const std::string& ip, std::uint16_t port) {
    TUdpPeer probe(ip);
    probe.Recording = false;
    for (int i = 0; i < 50; ++i) {
        probe.SendTo(ip, port, Words({1}, std::string_view("no-such-file\0octet\0", 19)));
        if (probe.Receive(100))
            return true;
    }
    return false;
}
