// A small HTTP server on a loopback address for the http tests: it records
// every request as it arrived and answers through a handler that the test
// gives; a Gate lets a handler stall until the test releases it. Test support
// only; nothing of the request object is here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>

/// Closed until Open(); Wait() gives up after a bound so no test hangs.
class Gate {
public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool Wait(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

struct RecordedRequest {
    std::string method, target, body, remoteAddress;
    int remotePort = 0;
    httplib::Headers headers;
    bool Has(const std::string& name) const { return headers.count(name) != 0; }
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    /// Listens on address, on an ephemeral port or the one given.
    explicit TestServer(const std::string& address, Handler handler = {}, int port = 0)
        : handler_(std::move(handler)) {
        server_.set_keep_alive_timeout(1);
        const auto record = [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({req.method, req.target, req.body, req.remote_addr,
                                     req.remote_port, req.headers});
            }
            if (handler_)
                handler_(req, res);
        };
        server_.Get(".*", record).Post(".*", record).Put(".*", record).Delete(".*", record);
        if (port == 0)
            port_ = server_.bind_to_any_port(address);
        else if (server_.bind_to_port(address, port))
            port_ = port;
        if (port_ <= 0)
            throw std::runtime_error("cannot listen on " + address);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() is lost on a server whose accept loop has not begun yet.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!server_.is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    ~TestServer() {
        gate.Open();
        server_.stop();
        thread_.join();
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port_; }
    std::vector<RecordedRequest> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    /// Opened by the destructor at the latest, so a stalled handler ends.
    Gate gate;

private:
    httplib::Server server_;
    Handler handler_;
    std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
    int port_ = 0;
    std::thread thread_;
};

/// The proxy variables that libcurl reads, cleared so that loopback requests
/// go straight to the test server.
inline void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                             "ALL_PROXY", "all_proxy", "NO_PROXY"})
        unsetenv(name);
}

/// An environment variable set for the object's lifetime and then restored
/// as it was (unset when it was), so that a test leaves no proxy to the tests
/// after it in the same process.
class TScopedVariable {
public:
    TScopedVariable(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()))
            old_ = old;
        setenv(name_.c_str(), value.c_str(), 1);
    }
    ~TScopedVariable() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};
