// The TFTP servers written elsewhere that the interoperability table sends
// files to, each started by the test on a loopback address and a port of its
// own, with a root folder that takes new files, and stopped with the object:
// tftpd-hpa, atftpd, the npm package "tftp" and Perl's Net::TFTPd (the last
// two through the drivers in tests/support/tftp-peers/). What no package
// installs, scripts/install-deps.sh puts into LOADER_TEST_PEERS: atftpd,
// unpacked from its package (which conflicts with tftpd-hpa's), and the npm
// package. A Windows test program cannot start Linux programs: there only
// the tftpd-hpa that its test run started is reached (TTftpdHpa).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "runtime/Process.h"
#include "tests/support/Platform.h"
#include "tests/support/UdpPeer.h"

enum class TServerProgram { spTftpdHpa, spAtftpd, spNpmTftp, spNetTftpd };

struct TServerVariant {
    const char* Name;
    TServerProgram Program;
    bool RefuseOptions = false; // a request with options gets ACK 0: blocks of 512
    bool OwnPort = false;       // transfers answered from the address and port of the request
};

class TTftpServer {
public:
    TTftpServer(const TServerVariant& variant, const std::string& ip) : ip_(ip) {
        if (IsPlainTftpdHpa(variant)) {
            hpa_.emplace(ip);
            port_ = hpa_->Port();
            root_ = hpa_->Root();
            return;
        }
        namespace fs = std::filesystem;
        root_ = fs::temp_directory_path() / ("tftp-interop-" + ProcessTag() + "-" + ip);
        fs::create_directories(root_);
        fs::permissions(root_, fs::perms::all); // atftpd writes as nobody
        port_ = TUdpPeer(ip).Port(); // free now, and ephemeral ports are not reused at once
        const std::string port = std::to_string(port_);
        const std::string root = root_.string();
        std::vector<std::string> args;
        switch (variant.Program) {
        case TServerProgram::spTftpdHpa:
            args = {"-L", "-a", ip + ":" + port, "-c", "-u", "root", "-s", root};
            if (variant.RefuseOptions)
                args.insert(args.end(), {"-r", "blksize", "-r", "tsize"});
            break;
        case TServerProgram::spAtftpd:
            args = {"--daemon",       "--no-fork", "--port",    port,
                    "--bind-address", ip,          "--logfile", "/dev/null"};
            if (variant.RefuseOptions)
                args.insert(args.end(), {"--no-blksize", "--no-tsize", "--no-timeout",
                                         "--no-windowsize", "--no-multicast"});
            args.push_back(root);
            break;
        case TServerProgram::spNpmTftp:
            args = {TFTP_PEER_SCRIPTS "/tftp-server.js", LOADER_TEST_PEERS "/npm/node_modules", ip,
                    port, root};
            break;
        case TServerProgram::spNetTftpd:
            args = {TFTP_PEER_SCRIPTS "/net-tftpd.pl"};
            if (variant.OwnPort)
                args.push_back("--own-port");
            args.insert(args.end(), {ip, port, root});
            break;
        }
        child_.emplace(ProgramOf(variant.Program), args);
    }

    ~TTftpServer() {
        if (hpa_)
            return; // the root is TTftpdHpa's
        child_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TTftpServer(const TTftpServer&) = delete;
    TTftpServer& operator=(const TTftpServer&) = delete;

    /// Why the server cannot run here; empty when it can.
    static std::string Missing(const TServerVariant& variant) {
        if (IsPlainTftpdHpa(variant))
            return TTftpdHpa::Missing();
        if (kTestPlatform == TTestPlatform::tpWindows)
            return "a Linux program, which a Windows test program cannot start";
        const std::string program = ProgramOf(variant.Program);
        std::string needs = program;
        if (variant.Program == TServerProgram::spNpmTftp)
            needs = LOADER_TEST_PEERS "/npm/node_modules/tftp";
        else if (variant.Program == TServerProgram::spNetTftpd)
            needs = "/usr/share/perl5/Net/TFTPd.pm";
        std::error_code ec;
        if (program.empty() || !std::filesystem::exists(program, ec) ||
            !std::filesystem::exists(needs, ec))
            return (needs.empty() ? std::string("its interpreter") : needs) +
                   " is missing; scripts/install-deps.sh installs it";
        return "";
    }

    /// True once the server answers a read request (at most 5 seconds).
    bool Ready() {
        if (hpa_)
            return hpa_->Ready();
        return child_ && !child_->Ended() && AnswersReadRequests(ip_, port_);
    }
    std::uint16_t Port() const { return port_; }
    const std::filesystem::path& Root() const { return root_; }

private:
    static bool IsPlainTftpdHpa(const TServerVariant& variant) {
        return variant.Program == TServerProgram::spTftpdHpa && !variant.RefuseOptions;
    }

    static std::string ProgramOf(TServerProgram program) {
        switch (program) {
        case TServerProgram::spTftpdHpa:
            return "/usr/sbin/in.tftpd";
        case TServerProgram::spAtftpd:
            return LOADER_TEST_PEERS "/atftpd/usr/sbin/atftpd";
        case TServerProgram::spNpmTftp:
            return LOADER_NODE;
        case TServerProgram::spNetTftpd:
            return LOADER_PERL;
        }
        return "";
    }

    std::optional<TTftpdHpa> hpa_; // the plain tftpd-hpa, reached on Windows too
    std::optional<TChildProcess> child_;
    std::string ip_;
    std::filesystem::path root_;
    std::uint16_t port_ = 0;
};
