// tftpd-hpa, an independent TFTP server, as a test peer: files written to it
// must arrive byte for byte. Started in the foreground on a loopback address
// and stopped by its pid; never the system's service.
#pragma once

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/UdpPeer.h"

/// tftpd-hpa in the foreground on a loopback address and a free port, with a
/// temporary root that accepts new files; stopped by its pid.
class TftpdHpa {
public:
    static constexpr const char* Program = "/usr/sbin/in.tftpd";
    static bool Installed() { return ::access(Program, X_OK) == 0; }

    explicit TftpdHpa(const std::string& ip) : ip_(ip) {
        static std::atomic<int> count{0};
        root_ = std::filesystem::temp_directory_path() /
                ("tftpd-root-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
        std::filesystem::create_directories(root_);
        std::filesystem::permissions(
            root_, std::filesystem::perms::all); // the server may run as another user
        port_ = TUdpPeer(ip).Port(); // free now, and ephemeral ports are not reused at once
        const std::string address = ip + ":" + std::to_string(port_);
        const std::string root = root_.string();
        const char* argv[] = {Program, "-L",   "-a", address.c_str(), "-c",
                              "-u",    "root", "-s", root.c_str(),    nullptr};
        if (::posix_spawn(&pid_, Program, nullptr, nullptr, const_cast<char* const*>(argv),
                          environ) != 0)
            pid_ = -1;
    }
    ~TftpdHpa() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    /// True once the server answers a read request for a missing file (at
    /// most 5 seconds).
    bool Ready() {
        if (pid_ <= 0)
            return false;
        TUdpPeer probe(ip_);
        probe.Recording = false;
        for (int i = 0; i < 50; ++i) {
            probe.SendTo(ip_, port_, Words({1}, std::string_view("no-such-file\0octet\0", 19)));
            if (probe.Receive(100))
                return true;
        }
        return false;
    }

    std::uint16_t Port() const { return port_; }
    std::filesystem::path Root() const { return root_; }

private:
    std::string ip_;
    std::filesystem::path root_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

inline TIdBytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TIdBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
