// The tests' HTTP peer that misbehaves on the wire: for each connection it
// reads the request head, records its request line, and lets the test's
// script write whatever bytes it likes (a body cut short, a broken chunked
// body, a page without end, a redirect elsewhere) before it closes the
// connection. Plain POSIX sockets on purpose: no HTTP library in between
// that would tidy the answer. One connection at a time, each bounded in
// time. It counts the connections it accepted, so that it can also stand for
// a proxy that must see nothing; beside it, a port that answers no connection
// request at all. Only 127.0.0.0/8 addresses belong here.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

class THttpPeer {
public:
    /// Writes bytes to the client; false once it has gone or stopped reading.
    using TSend = std::function<bool(std::string_view bytes)>;
    /// Answers one request, given its request line; the connection closes
    /// when the script returns.
    using TScript = std::function<void(const std::string& requestLine, const TSend& send)>;

    /// Listens on ip and port (0: any free one) and serves until destroyed.
    THttpPeer(const std::string& ip, std::uint16_t port, TScript script = {})
        : script_(std::move(script)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 ||
            (ntohl(a.sin_addr.s_addr) >> 24) != 127 ||
            ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            if (fd_ >= 0)
                ::close(fd_);
            throw std::runtime_error("http peer: cannot listen on " + ip);
        }
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~THttpPeer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    THttpPeer(const THttpPeer&) = delete;
    THttpPeer& operator=(const THttpPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    void SetScript(TScript script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }
    /// The request lines received so far, in order.
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    /// The connections accepted so far, whether or not a request came on them.
    int Connections() const { return connections_; }

    /// For a script: waits for the time given, or less when the client hangs
    /// up or the peer stops; true when the time passed with the client there.
    bool Hold(std::chrono::milliseconds time) const {
        const auto end = std::chrono::steady_clock::now() + time;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p{client_, POLLRDHUP, 0};
            if (::poll(&p, 1, static_cast<int>(Slice.count())) > 0)
                return false;
        }
        return !stop_;
    }

    /// For a script: sends bytes one at a time, one every interval, as a peer
    /// that keeps a request alive without ever finishing it; stops early when
    /// the client hangs up or the peer stops.
    void Drip(const TSend& send, std::string_view bytes, std::chrono::milliseconds interval) const {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (!send(bytes.substr(i, 1)) || !Hold(interval))
                return;
    }

    /// A whole answer: status line, header lines and body as given.
    static std::string Answer(const std::string& head, std::string_view body = {}) {
        return "HTTP/1.1 " + head + "\r\n\r\n" + std::string(body);
    }

private:
    static constexpr auto Slice = std::chrono::milliseconds(50);
    // A client that neither reads nor closes for this long has gone.
    static constexpr auto Patience = std::chrono::seconds(10);

    bool Ready(int fd, short events) const {
        const auto giveUp = std::chrono::steady_clock::now() + Patience;
        while (!stop_ && std::chrono::steady_clock::now() < giveUp) {
            pollfd p{fd, events, 0};
            if (::poll(&p, 1, static_cast<int>(Slice.count())) > 0)
                return true;
        }
        return false;
    }

    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(Slice.count())) <= 0)
                continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++connections_;
            client_ = client;
            Answer(client);
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    }

    void Answer(int client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            if (!Ready(client, POLLIN))
                return;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string line = head.substr(0, head.find("\r\n"));
        TScript script;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(line);
            script = script_;
        }
        const TSend send = [this, client](std::string_view bytes) {
            while (!bytes.empty()) {
                if (!Ready(client, POLLOUT))
                    return false;
                const ssize_t n = ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                bytes.remove_prefix(static_cast<std::size_t>(n));
            }
            return true;
        };
        if (script)
            script(line, send);
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    int client_ = -1; // the connection being answered; only the serving thread reads it
    std::mutex mutex_;
    TScript script_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

/// A port whose connection requests get no answer at all, as when a link
/// drops them: a listening socket with the shortest queue, filled by one
/// connection that is never accepted, so that the system drops every further
/// request unanswered and the client's connect waits for its own time-out.
class TUnansweredPort {
public:
    explicit TUnansweredPort(const std::string& ip) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        socklen_t len = sizeof a;
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        pollfd p{filler_, POLLOUT, 0};
        if (listener_ < 0 || filler_ < 0 || ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 ||
            (ntohl(a.sin_addr.s_addr) >> 24) != 127 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 &&
             errno != EINPROGRESS) ||
            ::poll(&p, 1, 5000) != 1) {
            Close();
            throw std::runtime_error("unanswered port: cannot fill a queue on " + ip);
        }
        port_ = ntohs(a.sin_port);
    }
    ~TUnansweredPort() { Close(); }
    TUnansweredPort(const TUnansweredPort&) = delete;
    TUnansweredPort& operator=(const TUnansweredPort&) = delete;

    std::uint16_t Port() const { return port_; }

private:
    void Close() {
        for (int fd : {filler_, listener_})
            if (fd >= 0)
                ::close(fd);
    }

    int listener_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
};
