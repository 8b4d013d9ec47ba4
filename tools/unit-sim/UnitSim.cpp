// The simulated unit: its web server on cpp-httplib and its TFTP server on a
// plain POSIX datagram socket, each on a thread of its own, and the store
// folder its images are written to. Only the unit's side of the conversation
// lives here.
#include "tools/unit-sim/UnitSim.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "tools/udp-relay/UdpRelay.h"

namespace {

// TFTP opcodes and error codes, RFC 1350; OACK, RFC 2347. Written here
// apart from tftp/IdTrivialFTPBase.h on purpose: the unit is the client's
// peer in the tests, and must not share the client's reading of the wire.
enum TTftpOpcode : std::uint16_t {
    toRRQ = 1,
    toWRQ = 2,
    toDATA = 3,
    toACK = 4,
    toERROR = 5,
    toOACK = 6
};
enum TTftpError : std::uint16_t {
    teUndefined = 0,
    teAccessViolation = 2,
    teDiskFull = 3,
    teIllegalOperation = 4,
    teUnknownTransferId = 5
};

constexpr unsigned DefaultBlockSize = 512; // RFC 1350
/// The largest block whose DATA packet fits one Ethernet frame:
/// 1500 - 20 (IP) - 8 (UDP) - 4 (TFTP header).
constexpr unsigned LargestBlockSize = 1468;
constexpr unsigned SmallestBlockSize = 8; // RFC 2348
/// How long the unit waits for the client's next DATA packet.
constexpr auto DataTimeout = std::chrono::seconds(5);
/// How long the unit stays after its final ACK to answer the final DATA
/// again, should that ACK be lost (RFC 1350 section 6): longer than a
/// client waits before it gives up (the loader: 4 s). The next request ends
/// the stay at once.
constexpr auto DallyTime = DataTimeout;
/// How often the loops look whether they should stop.
constexpr int PollMilliseconds = 100;

std::string AddressText(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

void Put16(std::vector<std::uint8_t>& packet, std::uint16_t value) {
    packet.push_back(static_cast<std::uint8_t>(value >> 8));
    packet.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void PutText(std::vector<std::uint8_t>& packet, const std::string& text) {
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0);
}

std::uint16_t Get16(const std::vector<std::uint8_t>& packet, std::size_t at) {
    return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

void SendPacket(int fd, std::uint32_t address, std::uint16_t port,
                const std::vector<std::uint8_t>& packet) {
    const sockaddr_in sa = SocketAddress(address, port);
    // A lost reply is the client's time-out to handle, as on the wire.
    (void)::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&sa),
                   sizeof sa);
}

void SendError(int fd, std::uint32_t address, std::uint16_t port, std::uint16_t code,
               const std::string& text) {
    std::vector<std::uint8_t> packet;
    Put16(packet, toERROR);
    Put16(packet, code);
    PutText(packet, text);
    SendPacket(fd, address, port, packet);
}

/// Tells the sender of a datagram that belongs to no transfer so (RFC 1350
/// section 4), unless the datagram is an ERROR: an ERROR is never answered,
/// or two ends that each take the other for a stranger trade them without end.
void SendUnknownTransferId(int fd, std::uint32_t address, std::uint16_t port,
                           const std::vector<std::uint8_t>& packet) {
    if (packet.size() >= 2 && Get16(packet, 0) == toERROR)
        return;
    SendError(fd, address, port, teUnknownTransferId, "Unknown transfer ID");
}

void SendAck(int fd, std::uint32_t address, std::uint16_t port, std::uint16_t block) {
    std::vector<std::uint8_t> packet;
    Put16(packet, toACK);
    Put16(packet, block);
    SendPacket(fd, address, port, packet);
}

/// The zero-terminated texts of a request after its opcode; empty when one
/// is not terminated.
std::vector<std::string> RequestTexts(const std::vector<std::uint8_t>& request) {
    std::vector<std::string> texts;
    std::size_t at = 2;
    while (at < request.size()) {
        const auto end =
            std::find(request.begin() + static_cast<std::ptrdiff_t>(at), request.end(), 0);
        if (end == request.end())
            return {};
        texts.emplace_back(request.begin() + static_cast<std::ptrdiff_t>(at), end);
        at = static_cast<std::size_t>(end - request.begin()) + 1;
    }
    return texts;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// One datagram from fd within the time left, with its sender; false on a
/// time-out or when stop turns true.
bool ReceivePacket(int fd, std::vector<std::uint8_t>& packet, std::uint32_t& address,
                   std::uint16_t& port, std::chrono::steady_clock::time_point deadline,
                   const std::function<bool()>& stop) {
    while (!stop() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, PollMilliseconds) <= 0)
            continue;
        packet.assign(65536, 0);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        const ssize_t n =
            ::recvfrom(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&sa), &len);
        if (n < 0)
            continue;
        packet.resize(static_cast<std::size_t>(n));
        address = sa.sin_addr.s_addr;
        port = ntohs(sa.sin_port);
        return true;
    }
    return false;
}

/// True when a datagram waits on fd.
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

/// Appends item to a history of the unit, forgetting the oldest beyond
/// TUnitSim::HistoryLimit.
template <typename T> void Remember(std::deque<T>& history, T item) {
    history.push_back(std::move(item));
    if (history.size() > TUnitSim::HistoryLimit)
        history.pop_front();
}

} // namespace

TUnitSim::TSocketFd::~TSocketFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

TUnitSim::TSocketFd& TUnitSim::TSocketFd::operator=(TSocketFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

TUnitSim::TUnitSim(TUnitSimSettings settings)
    : settings_(std::move(settings)), tftpEnabled_(settings_.TftpEnabled) {
    if (settings_.Store.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "unit-sim-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error(std::string("cannot make a store folder: ") +
                                     std::strerror(errno));
        store_ = pattern + "/";
        ownStore_ = true;
    } else {
        store_ = settings_.Store.back() == '/' ? settings_.Store : settings_.Store + "/";
    }
}

TUnitSim::~TUnitSim() {
    Stop();
    if (ownStore_) {
        std::error_code ignored; // a leftover temporary folder harms no one
        std::filesystem::remove_all(store_, ignored);
    }
}

bool TUnitSim::IsImageName(const std::string& name) {
    return name == "rrpages.bin" || name == "rrboot.bin" || name == "rrpages2.bin" ||
           name == "rrboot2.bin";
}

TUnitSim::TSocketFd TUnitSim::BoundUdpSocket(std::uint32_t address, std::uint16_t port) {
    TSocketFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0)
        throw std::runtime_error(std::string("cannot create a UDP socket: ") +
                                 std::strerror(errno));
    const sockaddr_in sa = SocketAddress(address, port);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        throw std::runtime_error("cannot bind UDP " + AddressText(address) + ":" +
                                 std::to_string(port) + ": " + std::strerror(errno));
    return socket;
}

void TUnitSim::Start() {
    in_addr a{};
    if (inet_pton(AF_INET, settings_.Address.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127)
        throw std::runtime_error("the simulated unit listens on 127.0.0.0/8 only, not on " +
                                 settings_.Address);
    address_ = a.s_addr;
    homePage_.clear();
    pending_.reset();

    tftpSocket_ = BoundUdpSocket(address_, settings_.Loss.Any() ? 0 : settings_.TftpPort);
    if (settings_.Loss.Any())
        StartLossyLink();
    auto server = MakeServer();
    if (!server->bind_to_port(settings_.Address, settings_.HttpPort))
        throw std::runtime_error("cannot bind TCP " + settings_.Address + ":" +
                                 std::to_string(settings_.HttpPort));
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
        httpDone_ = false;
        server_ = std::move(server);
    }
    httpThread_ = std::thread([this] { HttpLoop(); });
    tftpThread_ = std::thread([this] { TftpLoop(); });
    Log("unit " + settings_.Address + ": HTTP port " + std::to_string(settings_.HttpPort) +
        ", TFTP port " + std::to_string(settings_.TftpPort) + ", revision " + settings_.Revision);
}

void TUnitSim::Stop() noexcept {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        // A server between its bind and its listen does not take stop() yet;
        // ask again until the loop has seen it.
        while (!httpDone_) {
            if (server_)
                server_->stop();
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
    if (httpThread_.joinable())
        httpThread_.join();
    if (tftpThread_.joinable())
        tftpThread_.join();
    lossyLink_.reset();
    tftpSocket_ = TSocketFd();
}

void TUnitSim::StartLossyLink() {
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(tftpSocket_.Get(), reinterpret_cast<sockaddr*>(&bound), &len);
    TUdpRelaySettings link;
    link.ListenAddress = link.ServerAddress = settings_.Address;
    link.ListenPort = settings_.TftpPort;
    link.ServerPort = ntohs(bound.sin_port);
    link.Loss = settings_.Loss;
    lossyLink_ = std::make_unique<TUdpRelay>(link);
    lossyLink_->Start();
}

void TUnitSim::SetHomePage(std::string page) {
    std::lock_guard lock(mutex_);
    homePage_ = std::move(page);
}

std::vector<std::string> TUnitSim::Requests() const {
    std::lock_guard lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

std::vector<std::string> TUnitSim::UserAgents() const {
    std::lock_guard lock(mutex_);
    return {userAgents_.begin(), userAgents_.end()};
}

std::vector<TReceivedImage> TUnitSim::Images() const {
    std::lock_guard lock(mutex_);
    return {images_.begin(), images_.end()};
}

std::vector<std::string> TUnitSim::ClientErrors() const {
    std::lock_guard lock(mutex_);
    return {clientErrors_.begin(), clientErrors_.end()};
}

int TUnitSim::Reboots() const {
    std::lock_guard lock(mutex_);
    return reboots_;
}

void TUnitSim::Log(const std::string& line) {
    if (!settings_.Print)
        return;
    static std::mutex printing;
    std::lock_guard lock(printing);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// --- Web server ---------------------------------------------------------------

std::unique_ptr<httplib::Server> TUnitSim::MakeServer() {
    auto server = std::make_unique<httplib::Server>();
    server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        {
            std::lock_guard lock(mutex_);
            Remember(requests_, req.target);
            Remember(userAgents_, req.get_header_value("User-Agent"));
        }
        Log("HTTP " + req.method + " " + req.target);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server->Get("/", [this](const httplib::Request&, httplib::Response& res) {
        std::string page;
        {
            std::lock_guard lock(mutex_);
            page = homePage_;
        }
        if (page.empty())
            page = "<html><head><title>Unit</title>\n<script>var g_HwId = \"" + settings_.Revision +
                   "\";</script></head>\n<body>Unit</body></html>\n";
        res.set_content(page, "text/html");
    });
    server->Get("/index2.htm", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("tftpp") == std::to_string(settings_.TftpPort)) {
            std::lock_guard lock(mutex_);
            tftpEnabled_ = true;
        }
        res.set_content("<html><body>OK</body></html>\n", "text/html");
        if (req.has_param("REBOOT")) {
            res.set_header("Connection", "close");
            Reboot();
        }
    });
    return server;
}

void TUnitSim::Reboot(bool intoProgram) {
    std::lock_guard lock(mutex_);
    ++reboots_;
    rebooting_ = true;
    rebootIntoProgram_ = intoProgram;
    // Closes the listening socket at once; the answer being sent still goes out.
    if (server_)
        server_->stop();
    Log("unit reboots");
}

void TUnitSim::HttpLoop() {
    for (;;) {
        httplib::Server* server = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
            server = server_.get();
        }
        server->listen_after_bind();

        std::unique_lock lock(mutex_);
        if (stopping_)
            break;
        if (!rebooting_) // a failure of the server itself
            break;
        if (settings_.NeverComesBack || (settings_.DiesWithProgram && rebootIntoProgram_)) {
            changed_.wait(lock, [this] { return stopping_; });
            break;
        }
        if (changed_.wait_for(lock, settings_.RebootTime, [this] { return stopping_; }))
            break;
        rebooting_ = false;
        auto next = MakeServer();
        if (!next->bind_to_port(settings_.Address, settings_.HttpPort)) {
            Log("unit cannot listen again on " + settings_.Address);
            break;
        }
        server_ = std::move(next);
        lock.unlock();
        Log("unit is back");
    }
    std::lock_guard lock(mutex_);
    httpDone_ = true;
    changed_.notify_all();
}

// --- TFTP server --------------------------------------------------------------

bool TUnitSim::Stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void TUnitSim::TftpLoop() {
    const auto stop = [this] { return Stopping(); };
    while (!stop()) {
        TDatagram d;
        if (pending_) {
            d = std::move(*pending_);
            pending_.reset();
        } else if (!ReceivePacket(tftpSocket_.Get(), d.Bytes, d.Address, d.Port,
                                  std::chrono::steady_clock::now() + std::chrono::seconds(1),
                                  stop)) {
            continue;
        }
        if (d.Bytes.size() < 2)
            continue;
        switch (Get16(d.Bytes, 0)) {
        case toWRQ:
            ServeWrite(d.Bytes, d.Address, d.Port);
            break;
        case toRRQ:
            Log("TFTP read request refused");
            SendError(tftpSocket_.Get(), d.Address, d.Port, teIllegalOperation,
                      "Write requests only");
            break;
        default:
            SendUnknownTransferId(tftpSocket_.Get(), d.Address, d.Port, d.Bytes);
            break;
        }
    }
}

void TUnitSim::ServeWrite(const std::vector<std::uint8_t>& request, std::uint32_t peerAddress,
                          std::uint16_t peerPort) {
    const int fd = tftpSocket_.Get();
    const std::vector<std::string> texts = RequestTexts(request);
    if (texts.size() < 2) {
        SendError(fd, peerAddress, peerPort, teIllegalOperation, "Malformed request");
        return;
    }
    const std::string& name = texts[0];
    std::string requestedBlockSize, requestedSize;
    for (std::size_t i = 2; i + 1 < texts.size(); i += 2) {
        if (Lower(texts[i]) == "blksize")
            requestedBlockSize = texts[i + 1];
        else if (Lower(texts[i]) == "tsize")
            requestedSize = texts[i + 1];
    }
    Log("TFTP WRQ " + name + " mode " + texts[1] + " blksize " + requestedBlockSize + " tsize " +
        requestedSize + " from " + AddressText(peerAddress) + ":" + std::to_string(peerPort));

    bool enabled;
    {
        std::lock_guard lock(mutex_);
        enabled = tftpEnabled_;
    }
    if (!enabled || settings_.TftpSilent) {
        Log(enabled ? "TFTP silent: no answer" : "TFTP is off: no answer");
        return;
    }
    if (settings_.ErrorCode >= 0) {
        SendError(fd, peerAddress, peerPort, static_cast<std::uint16_t>(settings_.ErrorCode),
                  settings_.ErrorText);
        Log("TFTP answered ERROR " + std::to_string(settings_.ErrorCode));
        return;
    }
    if (!IsImageName(name)) {
        SendError(fd, peerAddress, peerPort, teAccessViolation, "Access violation");
        Log("TFTP refused " + name);
        return;
    }
    if (Lower(texts[1]) != "octet") {
        SendError(fd, peerAddress, peerPort, teIllegalOperation, "Octet mode only");
        return;
    }

    unsigned blockSize = DefaultBlockSize;
    std::vector<std::uint8_t> reply;
    if (settings_.Oack == TOackMode::omForceBlockSize) {
        blockSize = settings_.ForcedBlockSize;
        Put16(reply, toOACK);
        PutText(reply, "blksize");
        PutText(reply, std::to_string(blockSize));
    } else if (settings_.Oack == TOackMode::omGrant &&
               (!requestedBlockSize.empty() || !requestedSize.empty())) {
        Put16(reply, toOACK);
        const unsigned long asked = std::strtoul(requestedBlockSize.c_str(), nullptr, 10);
        if (asked >= SmallestBlockSize) {
            blockSize = static_cast<unsigned>(std::min<unsigned long>(asked, LargestBlockSize));
            PutText(reply, "blksize");
            PutText(reply, std::to_string(blockSize));
        }
        if (!requestedSize.empty()) {
            PutText(reply, "tsize");
            PutText(reply, requestedSize);
        }
    } else {
        Put16(reply, toACK);
        Put16(reply, 0);
    }

    // The image goes to a file of its own until it is whole, so that a
    // broken transfer never replaces the last good image of its name.
    const std::string path = store_ + name;
    const std::string partial = store_ + "." + name + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) {
        SendError(fd, peerAddress, peerPort, teDiskFull, "Disk full or allocation exceeded");
        Log("cannot write " + partial);
        return;
    }

    // The unit answers from port 69 itself; the fault answers from elsewhere.
    TSocketFd other;
    if (settings_.ReplyFromOtherPort)
        other = BoundUdpSocket(address_, 0);
    const TSocketFd& socket = settings_.ReplyFromOtherPort ? other : tftpSocket_;
    SendPacket(socket.Get(), peerAddress, peerPort, reply);

    TReceivedImage image{name, path, 0, blockSize};
    const auto lastBlock =
        ReceiveData(socket, peerAddress, peerPort, request, reply, blockSize, out, image.Size);
    if (lastBlock) {
        out.close();
        if (!out || std::rename(partial.c_str(), path.c_str()) != 0) {
            SendError(socket.Get(), peerAddress, peerPort, teDiskFull,
                      "Disk full or allocation exceeded");
            Log("cannot write " + path);
        } else {
            Log("TFTP stored " + name + " (" + std::to_string(image.Size) + " bytes, blocks of " +
                std::to_string(blockSize) + ")");
            {
                std::lock_guard lock(mutex_);
                Remember(images_, std::move(image));
            }
            SendAck(socket.Get(), peerAddress, peerPort, *lastBlock);
            Reboot(name.rfind("rrboot", 0) == 0); // the unit starts its new image
            Dally(socket, peerAddress, peerPort, *lastBlock);
            return;
        }
    }
    out.close();
    std::remove(partial.c_str());
}

std::optional<std::uint16_t>
TUnitSim::ReceiveData(const TSocketFd& socket, std::uint32_t peerAddress, std::uint16_t peerPort,
                      const std::vector<std::uint8_t>& request,
                      const std::vector<std::uint8_t>& reply, unsigned blockSize,
                      std::ofstream& out, std::uint64_t& size) {
    const auto stop = [this] { return Stopping(); };
    std::uint16_t expected = 1;
    for (;;) {
        std::vector<std::uint8_t> packet;
        std::uint32_t from = 0;
        std::uint16_t fromPort = 0;
        if (!ReceivePacket(socket.Get(), packet, from, fromPort,
                           std::chrono::steady_clock::now() + DataTimeout, stop)) {
            Log("TFTP transfer abandoned: the client fell silent");
            return std::nullopt;
        }
        if (from != peerAddress || fromPort != peerPort) {
            SendUnknownTransferId(socket.Get(), from, fromPort, packet);
            continue;
        }
        if (packet.size() < 4)
            continue;
        const std::uint16_t opcode = Get16(packet, 0);
        // The answer to the request was lost and the client asks again: it
        // gets the same answer, as long as no DATA has come. (A unit that
        // answers from another port hears no repeat here: it goes to port 69.)
        if (opcode == toWRQ && expected == 1 && packet == request) {
            SendPacket(socket.Get(), peerAddress, peerPort, reply);
            continue;
        }
        if (opcode == toERROR) {
            // The text up to its terminating zero, kept on one line.
            std::string text(packet.begin() + 4, std::find(packet.begin() + 4, packet.end(), 0));
            std::replace_if(
                text.begin(), text.end(),
                [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
            const std::string error = std::to_string(Get16(packet, 2)) + " " + text;
            Log("TFTP transfer ended by the client's ERROR " + error);
            std::lock_guard lock(mutex_);
            Remember(clientErrors_, error);
            return std::nullopt;
        }
        if (opcode != toDATA)
            continue;
        const std::uint16_t block = Get16(packet, 2);
        if (block == static_cast<std::uint16_t>(expected - 1)) {
            SendAck(socket.Get(), peerAddress, peerPort, block); // our ACK was lost
            continue;
        }
        if (block != expected)
            continue;
        out.write(reinterpret_cast<const char*>(packet.data() + 4),
                  static_cast<std::streamsize>(packet.size() - 4));
        if (!out) {
            SendError(socket.Get(), peerAddress, peerPort, teDiskFull,
                      "Disk full or allocation exceeded");
            Log("TFTP transfer abandoned: the image cannot be written");
            return std::nullopt;
        }
        size += packet.size() - 4;
        // The last block is acknowledged once the image is stored, so that a
        // client that has its final ACK finds the image in place.
        if (packet.size() - 4 < blockSize)
            return block;
        SendAck(socket.Get(), peerAddress, peerPort, block);
        ++expected;
    }
}

void TUnitSim::Dally(const TSocketFd& socket, std::uint32_t peerAddress, std::uint16_t peerPort,
                     std::uint16_t lastBlock) {
    const auto until = std::chrono::steady_clock::now() + DallyTime;
    // A unit that answered from another port ends its stay as well once
    // port 69 has the next request.
    const auto stop = [this, &socket] {
        return Stopping() || (&socket != &tftpSocket_ && Readable(tftpSocket_.Get()));
    };
    TDatagram d;
    while (ReceivePacket(socket.Get(), d.Bytes, d.Address, d.Port, until, stop)) {
        const bool fromClient = d.Address == peerAddress && d.Port == peerPort;
        if (fromClient && d.Bytes.size() >= 4 && Get16(d.Bytes, 0) == toDATA &&
            Get16(d.Bytes, 2) == lastBlock) {
            Log("TFTP final ACK sent again");
            SendAck(socket.Get(), peerAddress, peerPort, lastBlock);
            continue;
        }
        // Anything else on port 69 is the next request's business.
        if (&socket == &tftpSocket_) {
            pending_ = std::move(d);
            return;
        }
        if (!fromClient)
            SendUnknownTransferId(socket.Get(), d.Address, d.Port, d.Bytes);
    }
}
