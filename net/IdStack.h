// The socket layer's process-wide stack: the abstract stack through which
// every operating-system socket call goes, the usage count that creates and
// destroys GStack with the class registered for this platform, and the locked
// socket set used for readiness waits. Platform-free: the platform stack's
// header and source file declare and define its class and NewPlatformStack,
// and the build lists the one for its platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/IdGlobal.h"
#include "net/IdStackExceptions.h"

/// A raw address as a socket address record holds it: IPv4 in the first 4
/// bytes, IPv6 as eight 16-bit groups; network byte order in both.
struct TIdRawAddress {
    std::array<std::uint8_t, 16> Bytes{};
};

// ---- The stack -------------------------------------------------------------------

class TIdStack;

/// The stack class to instantiate: a factory for it.
using TIdStackClass = TIdStack* (*)();

/// The process-wide stack; exists while the usage count is above 0.
extern TIdStack* GStack;
/// Guards the usage count and the creation and destruction of GStack.
extern std::mutex* GStackCriticalSection;

/// Registers the stack class that the first IncUsage instantiates; nullptr
/// leaves none registered.
void SetStackClass(TIdStackClass AClass);
/// The registered stack class.
TIdStackClass StackClass();

class TIdStack {
public:
    TIdStack() = default;
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    /// Takes one usage; the first creates GStack of the registered class.
    /// Throws EIdStackError "Stack already created." / "Stack Class is undefined.".
    static void IncUsage();
    /// Gives one usage back; the last destroys GStack. At count 0 does nothing.
    static void DecUsage();
    /// The current usage count.
    static int UsageCount();

    /// A new socket for the family of AIPVersion; throws the last socket error.
    virtual TIdStackSocketHandle NewSocket(int ASocketType, int AProtocol, bool AOverlapped,
                                           TIdIPVersion AIPVersion) = 0;
    /// Binds to AIP ("" = any local address) and APort (0 = any port).
    virtual void BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                            std::uint16_t APort, TIdIPVersion AIPVersion) = 0;
    virtual void ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                               std::uint16_t APort, TIdIPVersion AIPVersion) = 0;
    /// Shuts the sending direction down and closes; results are ignored.
    virtual void ShutAndClose(TIdStackSocketHandle ASocket) noexcept = 0;
    /// Sends on a connected socket from AOffset, ASize bytes (-1: to the end);
    /// returns what the system reports as sent.
    virtual int SendOnSocket(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                             int ASize) = 0;
    /// Sends one datagram to AIP:APort; returns the bytes given.
    /// Throws EIdPackageSizeTooBig for 10040, EIdNotAllBytesSent for a short send.
    virtual int SendToAddress(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                              int ASize, const std::string& AIP, std::uint16_t APort,
                              TIdIPVersion AIPVersion) = 0;
    /// Receives one datagram into VBuffer from its start; a datagram longer than
    /// the buffer throws EIdSocketError 10040.
    virtual int ReceiveOnSocket(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) = 0;
    /// As ReceiveOnSocket, also giving the sender's address, port and family.
    virtual int ReceiveFromAny(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                               std::uint16_t& VPort, TIdIPVersion& VIPVersion) = 0;
    virtual void LocalAddressOf(TIdStackSocketHandle ASocket, std::string& VIP,
                                std::uint16_t& VPort, TIdIPVersion& VIPVersion) = 0;
    virtual void PeerAddressOf(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                               TIdIPVersion& VIPVersion) = 0;
    virtual void WriteSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption,
                                   int AValue) = 0;
    virtual int ReadSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption) = 0;
    /// Waits until one of the sockets is readable, at most AMSec milliseconds
    /// (-2: without limit; 0: polls once). Returns the number of ready sockets.
    virtual int WaitForReadable(const std::vector<TIdStackSocketHandle>& ASockets,
                                std::int32_t AMSec) = 0;
    /// Waits at most AMSec milliseconds (-2: without limit; 0: takes only
    /// what is there) for one datagram and receives it as ReceiveFromAny
    /// does; -1 when none came in time. VWait is the socket's own receive
    /// time-out, as the handle last left it: a platform that can wait inside
    /// the receive does so, one system call per datagram, and sets the
    /// socket's time-out only when the wait differs from VWait. This one
    /// waits, then receives.
    virtual int ReceiveFromWithin(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                                  std::uint16_t& VPort, TIdIPVersion& VIPVersion,
                                  std::int32_t AMSec, std::int32_t& VWait);

    /// The last socket error as a socket error number (10000 + BSD number).
    virtual int LastSocketError() = 0;
    /// AResult unchanged, or throws the last socket error when it is -1.
    int CheckSocketResult(int AResult);
    [[noreturn]] void ThrowLastSocketError();
    /// Throws EIdNotASocket for 10038, else EIdSocketError, with the code.
    [[noreturn]] static void ThrowSocketError(int ACode);
    /// "Socket Error # %d\r\n%s"; the second line is empty for an unknown code.
    static std::string SocketErrorText(int ACode);

    /// True for four dot-separated integers 0..255 and nothing after them.
    virtual bool IsIPv4Literal(const std::string& AText) = 0;
    /// An address text for AHost: "LOCALHOST" and literals without a lookup.
    virtual std::string ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) = 0;
    /// The first address that the resolver finds for AHost; throws
    /// EIdSocketError 11001 "Host not found." for an unknown name.
    virtual std::string LookupHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) = 0;
    /// Throws the runtime's EConvertError (IPv4) or EIdInvalidIPv6Address.
    virtual TIdRawAddress TextToAddress(const std::string& AText, TIdIPVersion AIPVersion) = 0;
    virtual std::string AddressToText(const TIdRawAddress& AAddress, TIdIPVersion AIPVersion) = 0;
};

/// The platform stack's factory, the class registered at program start;
/// defined by the platform stack's source file.
TIdStack* NewPlatformStack();

// ---- Socket set ------------------------------------------------------------------

/// A set of at most 64 sockets with its own lock, for readiness waits.
class TIdSocketList {
public:
    static constexpr std::size_t MaxSockets = 64;

    /// Adding a present value does nothing; a 65th throws EIdStackSetSizeExceeded.
    void Add(TIdStackSocketHandle AHandle);
    /// Removing moves the last entry into the freed place.
    void Remove(TIdStackSocketHandle AHandle);
    bool Contains(TIdStackSocketHandle AHandle) const;
    std::size_t Count() const;
    void Clear();
    /// A copy taken under the lock.
    std::vector<TIdStackSocketHandle> Snapshot() const;
    /// Waits until one socket of a copy of the set is readable, at most AMSec
    /// milliseconds (-2: without limit); true when one is.
    bool SelectRead(std::int32_t AMSec) const;

private:
    mutable std::mutex lock_;
    std::vector<TIdStackSocketHandle> sockets_;
};
