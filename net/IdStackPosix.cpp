// The stack over POSIX sockets: every system call of the socket layer, errno
// translated at once into the socket error numbers, the readiness wait on
// poll(), and the name lookup through getaddrinfo with IDNA conversion; its
// NewPlatformStack makes this the stack registered at program start. A
// Windows build lists a sibling stack file instead of this one: it loads the
// Windows Sockets library (version 2.2) when the first stack is created and
// uses its error numbers unchanged. Address texts belong in IdStackBSDBase.cpp.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <idn2.h>

#include "net/IdStackPosix.h"
#include "runtime/Files.h"
#include "runtime/Format.h"

static_assert(IdSockStream == SOCK_STREAM && IdSockDgram == SOCK_DGRAM);
static_assert(IdIpProtoIp == IPPROTO_IP && IdIpProtoTcp == IPPROTO_TCP);
static_assert(IdSolSocket == SOL_SOCKET && IdSoReuseAddr == SO_REUSEADDR);
static_assert(IdSoType == SO_TYPE && IdSoBroadcast == SO_BROADCAST);
static_assert(IdTcpNoDelay == TCP_NODELAY);

namespace {

struct CodePair {
    int from;
    int to;
};

// errno -> socket error number, by condition: Linux numbers its errno values
// differently from BSD, so the pairs are spelled by name.
constexpr CodePair ErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},       {EMFILE, 10024},
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
    {ELOOP, 10062},           {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},    {EUSERS, 10068},
    {EDQUOT, 10069},          {ESTALE, 10070},       {EREMOTE, 10071},
    {EAGAIN, 10035},
};

// getaddrinfo's negative codes -> socket error number, by condition.
constexpr CodePair ResolverCodes[] = {
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, 0},
#endif
    {EAI_AGAIN, 11002},  {EAI_BADFLAGS, 10022}, {EAI_FAIL, 11003},
    {EAI_FAMILY, 10047}, {EAI_MEMORY, 8},
#ifdef EAI_NODATA
    {EAI_NODATA, 11004},
#endif
    {EAI_NONAME, 11001}, {EAI_SERVICE, 10109},  {EAI_SOCKTYPE, 10044},
};

int Translate(const CodePair* begin, const CodePair* end, int code) {
    for (const CodePair* p = begin; p != end; ++p)
        if (p->from == code)
            return p->to;
    return code;
}

sockaddr* Record(TIdSockAddr& a) {
    return reinterpret_cast<sockaddr*>(a.Bytes.data());
}

/// errno as a socket error number; unknown values pass unchanged.
int SocketCodeOf(int errnoValue) {
    return Translate(std::begin(ErrnoCodes), std::end(ErrnoCodes), errnoValue);
}

const std::uint8_t* SendFrom(const TIdBytes& AData, int AOffset, std::size_t count) {
    return count == 0 ? nullptr : AData.data() + AOffset;
}

bool HasNonAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

/// The host in its ASCII-compatible form; glibc's resolver does not convert
/// internationalised names itself. Texts of plain ASCII are already in it.
std::string ToASCIIHost(const std::string& AHost) {
    if (!HasNonAscii(AHost))
        return AHost;
    char* out = nullptr;
    const int rc = idn2_to_ascii_8z(AHost.c_str(), &out, 0);
    if (rc != IDN2_OK)
        throw EOSError(Format("Converting host name %s to ASCII failed: %s", AHost,
                              std::string(idn2_strerror(rc))),
                       rc);
    std::unique_ptr<char, decltype(&idn2_free)> owner(out, &idn2_free);
    return std::string(out);
}

struct AddrInfoFree {
    void operator()(addrinfo* p) const { ::freeaddrinfo(p); }
};

} // namespace

TIdStack* NewPlatformStack() {
    return new TIdStackPosix();
}

// POSIX sockets need no library start-up, so there is nothing that could fail
// here and no EIdStackInitializationFailed to raise.
TIdStackPosix::TIdStackPosix() = default;

int TIdStackPosix::AddressFamily(TIdIPVersion AIPVersion) {
    switch (AIPVersion) {
    case Id_IPv4:
        return AF_INET;
    case Id_IPv6:
        return AF_INET6;
    }
    throw EIdIPVersionUnsupported("The requested IPVersion / Address family is not supported.");
}

int TIdStackPosix::LastSocketError() {
    return SocketCodeOf(errno);
}

TIdStackSocketHandle TIdStackPosix::NewSocket(int ASocketType, int AProtocol, bool,
                                              TIdIPVersion AIPVersion) {
    // There is no overlapped variant on POSIX; the flag never changes the call.
    const int family = AddressFamily(AIPVersion);
    return CheckSocketResult(::socket(family, ASocketType | SOCK_CLOEXEC, AProtocol));
}

void TIdStackPosix::BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                               std::uint16_t APort, TIdIPVersion AIPVersion) {
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    CheckSocketResult(::bind(ASocket, Record(a), static_cast<socklen_t>(a.Length)));
}

void TIdStackPosix::ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                                  std::uint16_t APort, TIdIPVersion AIPVersion) {
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    CheckSocketResult(::connect(ASocket, Record(a), static_cast<socklen_t>(a.Length)));
}

void TIdStackPosix::ShutAndClose(TIdStackSocketHandle ASocket) noexcept {
    // Both results are ignored: a datagram socket that was never connected
    // fails the shutdown, and nothing can be done about a failed close.
    (void)::shutdown(ASocket, SHUT_WR);
    (void)::close(ASocket);
}

int TIdStackPosix::SendOnSocket(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                                int ASize) {
    const std::size_t count = SendCount(AData, AOffset, ASize);
    return CheckSocketResult(
        static_cast<int>(::send(ASocket, SendFrom(AData, AOffset, count), count, MSG_NOSIGNAL)));
}

int TIdStackPosix::SendToAddress(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                                 int ASize, const std::string& AIP, std::uint16_t APort,
                                 TIdIPVersion AIPVersion) {
    const std::size_t count = SendCount(AData, AOffset, ASize);
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    const ssize_t sent = ::sendto(ASocket, SendFrom(AData, AOffset, count), count, MSG_NOSIGNAL,
                                  Record(a), static_cast<socklen_t>(a.Length));
    if (sent < 0) {
        const int code = LastSocketError();
        if (code == 10040)
            throw EIdPackageSizeTooBig("Package Size Too Big.");
        ThrowSocketError(code);
    }
    if (static_cast<std::size_t>(sent) != count)
        throw EIdNotAllBytesSent("Not all bytes sent.");
    return static_cast<int>(count);
}

// Linux truncates a datagram longer than the buffer without failing the
// receive; MSG_TRUNC makes the call return the datagram's real length, so an
// oversized datagram fails as "message too long" instead of passing as a
// complete one.
int TIdStackPosix::ReceiveOnSocket(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) {
    ssize_t received;
    // A stop and continue (Ctrl-Z, fg) interrupts the wait; it goes on.
    do
        received = ::recv(ASocket, VBuffer.data(), VBuffer.size(), MSG_TRUNC);
    while (received < 0 && errno == EINTR);
    const int n = CheckSocketResult(static_cast<int>(received));
    if (static_cast<std::size_t>(n) > VBuffer.size())
        ThrowSocketError(10040);
    return n;
}

int TIdStackPosix::ReceiveFromAny(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                                  std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    return ReceiveFrom(ASocket, VBuffer, VIP, VPort, VIPVersion, 0);
}

// SO_RCVTIMEO makes the receive itself the wait: a datagram costs one system
// call instead of a poll() and a recvfrom(), which is most of what a
// lock-step transfer spends per block beyond the exchange itself.
int TIdStackPosix::ReceiveFromWithin(TIdStackSocketHandle ASocket, TIdBytes& VBuffer,
                                     std::string& VIP, std::uint16_t& VPort,
                                     TIdIPVersion& VIPVersion, std::int32_t AMSec,
                                     std::int32_t& VWait) {
    if (AMSec < 0 && AMSec != -2)
        ThrowSocketError(SocketCodeOf(EINVAL));
    // A zero SO_RCVTIMEO means no limit; a wait of 0 takes what is there instead.
    if (AMSec != 0 && AMSec != VWait) {
        timeval limit{};
        if (AMSec > 0)
            limit = timeval{AMSec / 1000, (AMSec % 1000) * 1000};
        CheckSocketResult(
            ::setsockopt(static_cast<int>(ASocket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit));
        VWait = AMSec;
    }
    return ReceiveFrom(ASocket, VBuffer, VIP, VPort, VIPVersion, AMSec == 0 ? MSG_DONTWAIT : 0);
}

int TIdStackPosix::ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                               std::uint16_t& VPort, TIdIPVersion& VIPVersion, int AFlags) {
    TIdSockAddr from;
    socklen_t length = sizeof from.Bytes;
    const auto n = ::recvfrom(static_cast<int>(ASocket), VBuffer.data(), VBuffer.size(),
                              MSG_TRUNC | AFlags, Record(from), &length);
    // A receive with a time limit is not restarted after the program was
    // stopped and continued (Ctrl-Z, fg): like a time limit, that ends the
    // wait without a datagram, and the caller's own clock decides what next.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return -1; // the wait ended without a datagram
    CheckSocketResult(static_cast<int>(n));
    if (static_cast<std::size_t>(n) > VBuffer.size())
        ThrowSocketError(10040);
    DecodeSockAddr(from, VIP, VPort, VIPVersion);
    return static_cast<int>(n);
}

void TIdStackPosix::LocalAddressOf(TIdStackSocketHandle ASocket, std::string& VIP,
                                   std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    TIdSockAddr a;
    socklen_t length = sizeof a.Bytes;
    CheckSocketResult(::getsockname(ASocket, Record(a), &length));
    DecodeSockAddr(a, VIP, VPort, VIPVersion);
}

void TIdStackPosix::PeerAddressOf(TIdStackSocketHandle ASocket, std::string& VIP,
                                  std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    TIdSockAddr a;
    socklen_t length = sizeof a.Bytes;
    CheckSocketResult(::getpeername(ASocket, Record(a), &length));
    DecodeSockAddr(a, VIP, VPort, VIPVersion);
}

void TIdStackPosix::WriteSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption,
                                      int AValue) {
    CheckSocketResult(::setsockopt(ASocket, ALevel, AOption, &AValue, sizeof AValue));
}

int TIdStackPosix::ReadSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption) {
    int value = 0;
    socklen_t length = sizeof value;
    CheckSocketResult(::getsockopt(ASocket, ALevel, AOption, &value, &length));
    return value;
}

// poll() rather than select(): select() cannot watch a descriptor at or above
// FD_SETSIZE, which a long-running process can reach.
int TIdStackPosix::WaitForReadable(const std::vector<TIdStackSocketHandle>& ASockets,
                                   std::int32_t AMSec) {
    // -2 waits without limit; any other negative time is as invalid as a
    // negative select() time limit would be.
    if (AMSec < 0 && AMSec != -2)
        ThrowSocketError(SocketCodeOf(EINVAL));
    std::vector<pollfd> fds;
    fds.reserve(ASockets.size());
    for (TIdStackSocketHandle s : ASockets)
        fds.push_back(pollfd{static_cast<int>(s), POLLIN, 0});
    const int polled = ::poll(fds.data(), fds.size(), AMSec == -2 ? -1 : AMSec);
    // Stopped and continued, or a signal: the wait ends with nothing ready.
    if (polled < 0 && errno == EINTR)
        return 0;
    const int ready = CheckSocketResult(polled);
    for (const pollfd& p : fds)
        if (p.revents & POLLNVAL)
            ThrowSocketError(SocketCodeOf(EBADF)); // as select() reports a closed descriptor
    return ready;
}

std::string TIdStackPosix::LookupHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
    AddressFamily(AIPVersion); // refuses an unsupported version before any lookup
    TIdRawAddress address;
    const int rc = GetAddressInfo(ToASCIIHost(AHost), AIPVersion, address);
    if (rc == EAI_SYSTEM) {
        const int e = errno;
        throw EOSError(Format("Looking up host %s failed: %s", AHost, SysErrorMessage(e)), e);
    }
    if (rc != 0)
        ThrowSocketError(Translate(std::begin(ResolverCodes), std::end(ResolverCodes), rc));
    return AddressToText(address, AIPVersion);
}

int TIdStackPosix::GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                                  TIdRawAddress& VAddress) {
    addrinfo hints{};
    hints.ai_family = AddressFamily(AIPVersion);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(AASCIIHost.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return rc;
    std::unique_ptr<addrinfo, AddrInfoFree> owner(list);
    // The hints hold the family, so the first entry has it.
    if (list->ai_family == AF_INET)
        std::memcpy(VAddress.Bytes.data(), &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr,
                    4);
    else if (list->ai_family == AF_INET6)
        std::memcpy(VAddress.Bytes.data(),
                    &reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr, 16);
    else
        return EAI_FAMILY;
    return 0;
}
