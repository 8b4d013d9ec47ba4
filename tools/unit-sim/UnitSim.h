// A simulated unit for tests and for trying the loader without hardware: the
// unit's web server (home page with the revision marker, the TFTP and reboot
// commands, the reboot's downtime) and its TFTP server (write requests only,
// answered from port 69 itself), with fault settings for tests. It listens on
// 127.0.0.0/8 only. Received images go to files as they arrive; only their
// names and sizes stay in memory, so a long run does not grow. The loader's own code does not
// belong here; this is the other end of the wire.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/udp-relay/Loss.h"

namespace httplib {
class Server;
}
class TUdpRelay;

/// How the TFTP server answers the options of a write request.
enum class TOackMode {
    omGrant,         // OACK: "blksize" up to 1468, "tsize" echoed; ACK 0 without options
    omIgnoreOptions, // ACK 0: 512-byte blocks, as a server without option support
    omForceBlockSize // OACK with ForcedBlockSize as "blksize", whatever was asked
};

struct TUnitSimSettings {
    /// The unit's address; must lie in 127.0.0.0/8.
    std::string Address = "127.0.0.1";
    std::uint16_t HttpPort = 80;
    std::uint16_t TftpPort = 69;
    /// The text between the quotes of the revision marker.
    std::string Revision = "171";
    /// How long the web server refuses connections after a reboot.
    std::chrono::milliseconds RebootTime{0};
    /// Folder that receives the images under their remote names; empty: a
    /// temporary folder of the unit's own, removed with it.
    std::string Store;
    /// TFTP answers only once "/index2.htm?tftpp=69" has been asked for.
    bool TftpEnabled = false;
    /// Prints each request and transfer on stdout.
    bool Print = false;

    // Faults.
    bool TftpSilent = false; // write requests get no answer at all
    int ErrorCode = -1;      // >= 0: every write request gets this ERROR
    std::string ErrorText;   //        with this text
    TOackMode Oack = TOackMode::omGrant;
    std::uint16_t ForcedBlockSize = 0;
    bool ReplyFromOtherPort = false; // transfers answered from an ephemeral port
    bool NeverComesBack = false;     // the web server stays down after a reboot
    bool DiesWithProgram = false;    // ... after the reboot into a program image (rrboot*)

    /// A lossy link in front of the TFTP server (towards the server: what the
    /// loader sends). With any rate set, a relay listens on TftpPort and the
    /// server itself on a free port behind it.
    TLossSettings Loss;
};

/// An image the TFTP server received whole.
struct TReceivedImage {
    std::string RemoteName;
    /// The file that holds it: the store folder and the remote name, so a
    /// later image of the same name replaces its bytes.
    std::string Path;
    std::uint64_t Size = 0;
    unsigned BlockSize = 0;
};

class TUnitSim {
public:
    explicit TUnitSim(TUnitSimSettings settings);
    /// Stops both servers.
    ~TUnitSim();
    TUnitSim(const TUnitSim&) = delete;
    TUnitSim& operator=(const TUnitSim&) = delete;

    /// Binds both ports and starts serving; returns once both listen.
    /// Throws std::runtime_error for an address outside 127.0.0.0/8 or a
    /// port that cannot be bound.
    void Start();
    /// Stops both servers and waits for them; a running transfer is dropped.
    void Stop() noexcept;

    /// Serves page as the home page instead of the one built from Revision.
    void SetHomePage(std::string page);
    /// How many requests and images the unit remembers: the latest ones, so
    /// that a unit serving a long run keeps a bounded history.
    static constexpr std::size_t HistoryLimit = 1000;
    /// The request targets (path and query) the web server got, in order.
    std::vector<std::string> Requests() const;
    /// The User-Agent of each request, in the same order.
    std::vector<std::string> UserAgents() const;
    /// The images received whole, in order.
    std::vector<TReceivedImage> Images() const;
    /// The ERROR packets with which clients ended a transfer, in order: the
    /// code, a blank and the text, each control character as "?".
    std::vector<std::string> ClientErrors() const;
    /// The folder the images are stored in, ending in "/".
    const std::string& StoreFolder() const { return store_; }
    /// How many reboots the unit went through (commands and stored images).
    int Reboots() const;

    /// The four remote names the unit accepts.
    static bool IsImageName(const std::string& name);

private:
    /// Owns one socket descriptor.
    class TSocketFd {
    public:
        TSocketFd() = default;
        explicit TSocketFd(int fd) : fd_(fd) {}
        ~TSocketFd();
        TSocketFd(TSocketFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
        TSocketFd& operator=(TSocketFd&& other) noexcept;
        int Get() const { return fd_; }

    private:
        int fd_ = -1;
    };

    void HttpLoop();
    void TftpLoop();
    /// A datagram and its sender (address in network order).
    struct TDatagram {
        std::vector<std::uint8_t> Bytes;
        std::uint32_t Address = 0;
        std::uint16_t Port = 0;
    };

    bool Stopping() const;
    void ServeWrite(const std::vector<std::uint8_t>& request, std::uint32_t peerAddress,
                    std::uint16_t peerPort);
    /// Receives the DATA packets of one write on socket into out,
    /// acknowledging all but the last, and answers a repeat of the request
    /// with reply again until DATA comes; gives the last block's number,
    /// none when the client fell silent or gave up or the file could not be
    /// written.
    std::optional<std::uint16_t>
    ReceiveData(const TSocketFd& socket, std::uint32_t peerAddress, std::uint16_t peerPort,
                const std::vector<std::uint8_t>& request, const std::vector<std::uint8_t>& reply,
                unsigned blockSize, std::ofstream& out, std::uint64_t& size);
    /// After the final ACK: answers the client's final DATA again with that
    /// ACK for a while. A datagram on port 69 that is not that DATA ends the
    /// stay and waits in pending_ for the TFTP loop.
    void Dally(const TSocketFd& socket, std::uint32_t peerAddress, std::uint16_t peerPort,
               std::uint16_t lastBlock);
    /// Puts the relay with the loss settings on TftpPort, in front of the
    /// server's socket.
    void StartLossyLink();
    static TSocketFd BoundUdpSocket(std::uint32_t address, std::uint16_t port);
    std::unique_ptr<httplib::Server> MakeServer();
    /// intoProgram: the reboot starts a program image just stored.
    void Reboot(bool intoProgram = false);
    void Log(const std::string& line);

    const TUnitSimSettings settings_;
    std::uint32_t address_ = 0; // network order
    /// The store folder, ending in "/"; ownStore_ when the unit made it.
    std::string store_;
    bool ownStore_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool httpDone_ = true;
    bool rebooting_ = false;
    /// The reboot under way starts a program image.
    bool rebootIntoProgram_ = false;
    bool tftpEnabled_;
    std::string homePage_;
    std::deque<std::string> requests_;
    std::deque<std::string> userAgents_;
    std::deque<TReceivedImage> images_;
    std::deque<std::string> clientErrors_;
    int reboots_ = 0;
    std::unique_ptr<httplib::Server> server_;

    TSocketFd tftpSocket_;
    /// A datagram received on tftpSocket_ that the TFTP loop has yet to take
    /// (the TFTP thread's own).
    std::optional<TDatagram> pending_;
    std::unique_ptr<TUdpRelay> lossyLink_; // in front of tftpSocket_, with Loss set
    std::thread httpThread_;
    std::thread tftpThread_;

    /// Where the unit runs in unit-sim-host (UnitSimRemote.cpp, the Windows
    /// test programs' TUnitSim): the connection to it.
    std::intptr_t control_ = -1;
};
