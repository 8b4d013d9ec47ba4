// http-peer: a loopback HTTP server with fixed answers for the request
// object's tests on a platform that cannot host cpp-httplib in the test
// program itself. Every path without an answer of its own echoes the request
// as the server saw it, so a test reads what went over the wire from the
// body. Beside it, on the same address, it keeps a port whose connection
// requests go unanswered. Runs until it is killed, or until its lifetime is
// over.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/HttpPeer.h"

namespace {

using namespace std::chrono_literals;

/// The request line, the header lines and the body, as the server received
/// them; lines end in CR LF and an empty line comes before the body.
std::string Echo(const httplib::Request& req) {
    std::string text = req.method + " " + req.target + "\r\n";
    for (const auto& [name, value] : req.headers)
        text += name + ": " + value + "\r\n";
    return text + "\r\n" + req.body;
}

/// 300 KiB that no shorter or shifted copy of itself matches.
std::string LargeBody() {
    std::string body(300 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 % 251);
    return body;
}

} // namespace

int main(int argc, char** argv) {
    std::string address;
    std::string readyFile;
    int lifetime = 900;
    CLI::App app{"HTTP peer of the http tests: fixed answers, everything else echoed. "
                 "Loopback addresses only."};
    app.add_option("--address", address, "Address to listen on, in 127.0.0.0/8")->required();
    app.add_option("--ready-file", readyFile,
                   "File that receives ADDRESS:PORT once listening, and on a second line "
                   "ADDRESS:PORT of the port that answers no connection request")
        ->required();
    app.add_option("--lifetime", lifetime, "Seconds after which the peer ends by itself")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    if (address.rfind("127.", 0) != 0) {
        std::fprintf(stderr, "http-peer: %s is no loopback address\n", address.c_str());
        return 2;
    }

    std::mutex logMutex;
    std::string log; // every target received, one a line
    const std::string large = LargeBody();
    httplib::Server server;
    server.set_keep_alive_timeout(1);
    const auto answer = [&](const httplib::Request& req, httplib::Response& res) {
        if (req.path == "/log") {
            std::lock_guard lock(logMutex);
            res.set_content(log, "text/plain");
            return;
        }
        {
            std::lock_guard lock(logMutex);
            log += req.target + "\n";
        }
        if (req.path == "/page") {
            res.set_content("<p>g_HwId = \"171\"</p>", "text/html");
        } else if (req.path == "/none") {
            res.status = 204;
        } else if (req.path == "/large") {
            res.set_content(large, "application/octet-stream");
        } else if (req.path == "/cookies") {
            res.set_header("Set-Cookie", "session=1; Path=/");
            res.set_header("Set-Cookie", "theme=dark");
            res.set_header("X-Unit", "V4");
            res.set_content("x", "text/plain");
        } else if (req.path == "/long") {
            res.set_header("X-Long", std::string(3000, 'v'));
            res.set_content("x", "text/plain");
        } else if (req.path == "/old") {
            res.set_redirect("/new");
        } else if (req.path == "/new") {
            res.set_content("arrived", "text/plain");
        } else if (req.path == "/silent") {
            // Accepts and answers only after far longer than the tests'
            // limits; not longer, as the wait holds one of the server's few
            // threads.
            std::this_thread::sleep_for(3s);
        } else if (req.path == "/drip") {
            // The head at once, then a byte of the body a second until the
            // client goes.
            res.set_content_provider(60, "text/plain",
                                     [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(1s);
                                         return sink.is_writable() && sink.write("x", 1);
                                     });
        } else {
            res.set_content(Echo(req), "text/plain");
        }
    };
    server.Get(".*", answer).Post(".*", answer).Put(".*", answer);
    const int port = server.bind_to_any_port(address);
    if (port <= 0) {
        std::fprintf(stderr, "http-peer: cannot listen on %s\n", address.c_str());
        return 1;
    }
    const TUnansweredPort unanswered(address);
    std::thread serving([&] { server.listen_after_bind(); });
    {
        // Written whole under another name first: a reader never sees half of it.
        const std::string partial = readyFile + ".part";
        std::ofstream(partial) << address << ":" << port << "\n"
                               << address << ":" << unanswered.Port() << "\n";
        std::rename(partial.c_str(), readyFile.c_str());
    }

    // SIGTERM, which background-peer.sh sends, ends it at any time before.
    std::this_thread::sleep_for(std::chrono::seconds(lifetime));
    server.stop();
    serving.join();
    return 0;
}
