// tftp-put: sends one local file to a TFTP server on this machine with
// TIdTrivialFTP, the same component and calling order that the loader uses,
// for interoperability checks and the benchmark. Progress goes to stderr
// while stderr is a terminal. No TFTP logic here: the transfer is the
// component's.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "net/IdComponent.h"
#include "net/IdStack.h"
#include "runtime/Console.h"
#include "runtime/Convert.h"
#include "tftp/IdTrivialFTP.h"

namespace {

/// Shows bytes sent, share of the total and rate on one terminal line,
/// redrawn at most ten times a second so that drawing costs nothing next to
/// the transfer.
class ProgressLine {
public:
    void Begin(std::int64_t total) {
        total_ = total;
        start_ = last_ = Clock::now();
    }
    void Update(std::int64_t count, bool final) {
        count_ = count;
        const auto now = Clock::now();
        if (!final && now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        const double secs = std::chrono::duration<double>(now - start_).count();
        const double pct =
            total_ > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(total_) : 100.0;
        const double rate = secs > 0 ? static_cast<double>(count) / secs / 1024.0 : 0.0;
        fmt::print(stderr, "\r{} bytes  {:5.1f}%  {:.0f} KiB/s ", count, pct, rate);
    }
    void End() {
        Update(count_, true);
        fmt::print(stderr, "\n");
    }

private:
    using Clock = std::chrono::steady_clock;
    std::int64_t total_ = 0;
    std::int64_t count_ = 0;
    Clock::time_point start_{}, last_{};
};

/// The network library's idle hook: a wait for the server is cut into
/// quarter-second slices, and after each slice and each reply a Ctrl-C ends
/// the transfer, the server told with an ERROR packet rather than left
/// waiting.
class InterruptHook : public TIdAntiFreezeBase {
public:
    explicit InterruptHook(TIdTrivialFTP& tftp) : tftp_(tftp) { OnlyWhenIdle = false; }
    void ProcessEvents() override {
        // A look at the console ten times a second costs nothing next to a
        // transfer's thousands of replies a second.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook_ < std::chrono::milliseconds(100))
            return;
        lastLook_ = now;
        if (TakeInterrupt(std::chrono::nanoseconds::zero())) {
            Interrupted = true;
            tftp_.AbortTransfer();
        }
    }
    bool Interrupted = false;

private:
    TIdTrivialFTP& tftp_;
    std::chrono::steady_clock::time_point lastLook_{};
};

} // namespace

int main(int argc, char** argv) {
    OpenClosedStandardStreams();
    CLI::App app{"Sends LOCALFILE to the TFTP server at HOST as REMOTENAME (one write transfer)."};
    // The same options on every platform: on Windows too a value that starts
    // with "/" is a value, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("tftp-put ") + LOADER_VERSION);
    std::uint16_t port = 69;
    std::int32_t blksize = 1500;
    std::int32_t timeout = 4000;
    std::int32_t retries = 5;
    std::string mode = "octet";
    bool open = false;
    std::string host, localFile, remoteName;
    app.add_option("--port", port, "Server port")->capture_default_str();
    app.add_option("--blksize", blksize, "Block size asked for (\"blksize\" option)")
        ->capture_default_str();
    app.add_option("--timeout", timeout, "Wait for each reply, milliseconds (at least 500)")
        ->capture_default_str();
    app.add_option("--retries", retries,
                   "Re-sends of a packet whose reply does not come, within the --timeout")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--mode", mode, "Mode named in the request")
        ->check(CLI::IsMember({"octet", "netascii"}))
        ->capture_default_str();
    app.add_flag("--open", open,
                 "Open (connect) the endpoint first, as the loader does: only replies from "
                 "HOST:PORT are heard then");
    app.add_option("HOST", host, "Server: a loopback address (127.x.x.x) or localhost")->required();
    app.add_option("LOCALFILE", localFile, "File to send")->required();
    app.add_option("REMOTENAME", remoteName, "Name on the server")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 1;
    }

    // Held from here on, so that a Ctrl-C waits to be taken by a wait slice.
    HoldInterrupts();
    bool interrupted = false;
    try {
        TIdTrivialFTP tftp;
        InterruptHook hook(tftp);
        // A helper of this project: it talks to this machine only, never to a
        // unit or any other host on the network. A name that merely starts
        // with "127." is not an address: it would go to the resolver, and from
        // there anywhere.
        if (!SameText(host, "localhost") &&
            !(host.rfind("127.", 0) == 0 && GStack->IsIPv4Literal(host))) {
            fmt::print(stderr, "tftp-put: {} is not a loopback address (127.x.x.x or localhost)\n",
                       EscapeControls(host));
            return 1;
        }
        tftp.SetHost(host);
        tftp.SetPort(port);
        tftp.SetRequestedBlockSize(blksize);
        tftp.SetReceiveTimeout(timeout);
        tftp.SetRetransmissions(retries);
        tftp.SetTransferMode(mode == "netascii" ? tfNetAscii : tfOctet);

        ProgressLine progress;
        if (IsTerminal(TConsoleStream::csError)) {
            tftp.OnWorkBegin = [&](TIdComponent*, TWorkMode, std::int64_t total) {
                progress.Begin(total);
            };
            tftp.OnWork = [&](TIdComponent*, TWorkMode, std::int64_t count) {
                progress.Update(count, false);
            };
            tftp.OnWorkEnd = [&](TIdComponent*, TWorkMode) { progress.End(); };
        }

        if (open)
            tftp.OpenEndpoint();
        try {
            tftp.UploadFile(localFile, remoteName);
        } catch (...) {
            interrupted = hook.Interrupted;
            tftp.CloseEndpoint();
            throw;
        }
        tftp.CloseEndpoint();
    } catch (const std::exception& e) {
        // The server's ERROR text is its own: printed as data, never as
        // terminal control.
        fmt::print(stderr, "tftp-put: {}\n", EscapeControls(e.what()));
        return interrupted ? 130 : 1; // 130: ended by Ctrl-C, as a shell reports it
    }
    return 0;
}
