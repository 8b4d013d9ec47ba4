// The relay's loop: one poll over the listening socket, one upstream socket
// per client and one client-facing socket per server port that answered, with
// a queue of datagrams held back by the loss model. Plain POSIX sockets: the
// rig must share no code with the endpoint it tests.
#include "tools/udp-relay/UdpRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

/// How often the loop looks whether it should stop.
constexpr auto StopCheck = std::chrono::milliseconds(50);
/// A client silent this long is forgotten with its sockets; longer than any
/// datagram can be held, so nothing held refers to a closed socket.
constexpr auto SessionIdle = std::chrono::seconds(120);

sockaddr_in LoopbackAddress(const std::string& text, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, text.c_str(), &sa.sin_addr) != 1 ||
        (ntohl(sa.sin_addr.s_addr) >> 24) != 127)
        throw std::runtime_error("the relay works on 127.0.0.0/8 only, not on " + text);
    return sa;
}

int BoundSocket(sockaddr_in address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot create a UDP socket: ") +
                                 std::strerror(errno));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("cannot bind UDP port " + std::to_string(ntohs(address.sin_port)) +
                                 ": " + std::strerror(error));
    }
    return fd;
}

std::uint64_t KeyOf(const sockaddr_in& a) {
    return (std::uint64_t{a.sin_addr.s_addr} << 16) | a.sin_port;
}

/// A datagram on its way out of the relay.
struct TOutgoing {
    int Fd = -1;
    sockaddr_in To{};
    std::vector<std::uint8_t> Bytes;
};

void SendNow(const TOutgoing& out) {
    // A datagram the kernel refuses is lost, as on a real link.
    (void)::sendto(out.Fd, out.Bytes.data(), out.Bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&out.To), sizeof out.To);
}

/// One client: the socket that talks to the server for it, and the socket
/// that answers it for each server port heard from.
struct TSession {
    sockaddr_in Client{};
    int Upstream = -1;
    std::map<std::uint64_t, int> Facing; // by server address
    Clock::time_point LastHeard;
};

} // namespace

TUdpRelay::TUdpRelay(TUdpRelaySettings ASettings) : settings_(std::move(ASettings)) {}

TUdpRelay::~TUdpRelay() {
    Stop();
}

void TUdpRelay::Start() {
    const sockaddr_in listen = LoopbackAddress(settings_.ListenAddress, settings_.ListenPort);
    LoopbackAddress(settings_.ServerAddress, settings_.ServerPort);
    listenFd_ = BoundSocket(listen);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &len);
    listenPort_ = ntohs(bound.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
}

void TUdpRelay::Stop() noexcept {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

TUdpRelayCounts TUdpRelay::Counts() const {
    TUdpRelayCounts c;
    for (int d = 0; d < 2; ++d) {
        c.Received[d] = counters_.Received[d];
        c.Dropped[d] = counters_.Dropped[d];
        c.Duplicated[d] = counters_.Duplicated[d];
        c.Delayed[d] = counters_.Delayed[d];
        c.Reordered[d] = counters_.Reordered[d];
    }
    return c;
}

void TUdpRelay::Run() {
    const TLossSettings& loss = settings_.Loss;
    const sockaddr_in server = LoopbackAddress(settings_.ServerAddress, settings_.ServerPort);
    const sockaddr_in local = LoopbackAddress(settings_.ListenAddress, 0);

    std::map<std::uint64_t, TSession> sessions; // by client address
    std::map<int, std::uint64_t> upstreams;     // socket -> client
    std::map<int, sockaddr_in> facings;         // client-facing socket -> server port
    facings[listenFd_] = server;
    std::uint64_t nextIndex[2] = {};
    std::multimap<Clock::time_point, TOutgoing> delayed;
    std::optional<std::pair<Clock::time_point, TOutgoing>> held[2]; // for reordering

    // Sends one datagram, or holds it back until the next one in its
    // direction has gone out; a datagram held before goes out after this one.
    const auto send = [&](TLossDirection d, const TOutgoing& out, bool reorder) {
        if (reorder && !held[d]) {
            ++counters_.Reordered[d];
            held[d].emplace(Clock::now() + loss.ReorderLimit, out);
            return;
        }
        SendNow(out);
        if (held[d]) {
            SendNow(held[d]->second);
            held[d].reset();
        }
    };
    const auto deliver = [&](TLossDirection d, const TOutgoing& out) {
        const TLossFate fate = FateOf(loss, d, nextIndex[d]++);
        ++counters_.Received[d];
        if (fate.Drop) {
            ++counters_.Dropped[d];
            return;
        }
        const int copies = fate.Duplicate ? 2 : 1;
        counters_.Duplicated[d] += copies - 1;
        if (fate.Delay)
            ++counters_.Delayed[d];
        for (int i = 0; i < copies; ++i) {
            if (fate.Delay)
                delayed.emplace(Clock::now() + loss.DelayTime, out);
            else
                send(d, out, fate.Reorder && i == 0);
        }
    };

    const auto sessionFor = [&](const sockaddr_in& client) -> TSession& {
        TSession& s = sessions[KeyOf(client)];
        if (s.Upstream < 0) {
            s.Client = client;
            s.Upstream = BoundSocket(local);
            upstreams[s.Upstream] = KeyOf(client);
        }
        s.LastHeard = Clock::now();
        return s;
    };

    std::vector<std::uint8_t> buffer(65536);
    std::vector<pollfd> fds;
    while (!stopping_) {
        const auto now = Clock::now();
        auto wake = now + StopCheck;
        if (!delayed.empty())
            wake = std::min(wake, delayed.begin()->first);
        for (const auto& h : held)
            if (h)
                wake = std::min(wake, h->first);
        fds.clear();
        for (const auto& [fd, to] : facings)
            fds.push_back(pollfd{fd, POLLIN, 0});
        for (const auto& [fd, client] : upstreams)
            fds.push_back(pollfd{fd, POLLIN, 0});
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait, 0)));

        for (const pollfd& p : fds) {
            if (!(p.revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(p.fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            TOutgoing out;
            out.Bytes.assign(buffer.begin(), buffer.begin() + n);
            if (const auto f = facings.find(p.fd); f != facings.end()) {
                // From a client: on to the server port this socket stands for.
                out.To = f->second;
                out.Fd = sessionFor(from).Upstream;
                deliver(ldToServer, out);
            } else if (const auto u = upstreams.find(p.fd); u != upstreams.end()) {
                // From the server: back to the client, from the socket that
                // stands for the server port it came from.
                TSession& s = sessions[u->second];
                s.LastHeard = Clock::now();
                auto facing = s.Facing.find(KeyOf(from));
                if (facing == s.Facing.end()) {
                    const int fd = KeyOf(from) == KeyOf(server) ? listenFd_ : BoundSocket(local);
                    facing = s.Facing.emplace(KeyOf(from), fd).first;
                    facings[fd] = from;
                }
                out.Fd = facing->second;
                out.To = s.Client;
                deliver(ldToClient, out);
            }
        }

        const auto later = Clock::now();
        while (!delayed.empty() && delayed.begin()->first <= later) {
            SendNow(delayed.begin()->second);
            delayed.erase(delayed.begin());
        }
        for (auto& h : held) {
            if (h && h->first <= later) {
                SendNow(h->second);
                h.reset();
            }
        }
        for (auto it = sessions.begin(); it != sessions.end();) {
            TSession& s = it->second;
            if (later - s.LastHeard < SessionIdle) {
                ++it;
                continue;
            }
            for (const auto& [server, fd] : s.Facing) {
                if (fd != listenFd_) {
                    facings.erase(fd);
                    ::close(fd);
                }
            }
            upstreams.erase(s.Upstream);
            ::close(s.Upstream);
            it = sessions.erase(it);
        }
    }
    for (const auto& [fd, to] : facings)
        if (fd != listenFd_)
            ::close(fd);
    for (const auto& [fd, client] : upstreams)
        ::close(fd);
}
