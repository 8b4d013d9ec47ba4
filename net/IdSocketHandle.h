// TIdSocketHandle: one operating-system socket owned by an endpoint, with its
// local and peer address, options, bind rules and readiness wait. Every system
// call goes through GStack; nothing here includes a socket header.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "net/IdGlobal.h"
#include "net/IdStack.h"

class TIdSocketHandle {
public:
    TIdSocketHandle();
    /// Releases the socket; never throws.
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    /// Releases any current socket and adopts a new one of the handle's family.
    /// Throws EIdSocketError when the system gives none.
    void OpenSocket(int ASocketType = IdSockDgram, int AProtocol = IdIpProtoIp);
    /// Binds according to IP, Port, the port range and ReuseSocket; reads the
    /// local address back. Throws EIdCouldNotBindSocket, EIdInvalidPortRange,
    /// EIdCanNotBindPortInRange.
    void BindLocal();
    /// Binds to IP and APort; false instead of any failure.
    bool TryBindPort(std::uint16_t APort);
    /// Stores the peer; no system call and no IPVersion check.
    void AssignPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion);
    /// Connects to the stored peer and refreshes both addresses.
    virtual void ConnectToPeer();
    /// Sends on the connected socket from AOffset, ASize bytes (-1: to the
    /// end); returns the count the system reports.
    int SendBytes(const TIdBytes& AData, int AOffset = 0, int ASize = -1);
    /// Sends AData as one datagram. Throws EIdPackageSizeTooBig, EIdNotAllBytesSent.
    void SendBytesTo(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion,
                     const TIdBytes& AData);
    /// Receives one datagram of at most VBuffer.size() bytes from its start;
    /// a longer one throws EIdSocketError 10040 and is lost.
    int ReceiveBytes(TIdBytes& VBuffer);
    /// As ReceiveBytes, with the sender's address, port and family.
    int ReceiveBytesFrom(TIdBytes& VBuffer, std::string& VIP, std::uint16_t& VPort,
                         TIdIPVersion& VIPVersion);
    /// Receives one datagram within AMSec milliseconds (-1 and -2: without
    /// limit; 0: only one already there), the wait cut into steps as
    /// WaitReadable cuts it; -1 when none came. Throws
    /// EIdConnClosedGracefully without a socket.
    int ReceiveBytesFromWithin(TIdBytes& VBuffer, std::string& VIP, std::uint16_t& VPort,
                               TIdIPVersion& VIPVersion, std::int32_t AMSec);
    /// True when the socket becomes readable within AMSec milliseconds (-1 and
    /// -2: without limit; 0: at once). Throws EIdConnClosedGracefully without a socket.
    bool WaitReadable(std::int32_t AMSec);
    /// Shuts down and closes the socket if there is one; safe to repeat.
    virtual void ReleaseSocket() noexcept;

    void WriteSocketOption(int ALevel, int AOption, int AValue);
    int ReadSocketOption(int ALevel, int AOption);

    bool HandleAllocated() const { return handleAllocated_; }
    TIdStackSocketHandle Handle() const { return handle_; }
    /// The socket type read back after allocation; 0 without a socket.
    int SocketType() const { return socketType_; }
    bool Overlapped() const { return overlapped_; }

    bool BroadcastEnabled() const { return broadcastEnabled_; }
    /// Writes SO_BROADCAST when the value changes and a socket is allocated.
    void SetBroadcastEnabled(bool AValue);
    std::uint16_t ClientPortMin() const { return clientPortMin_; }
    void SetClientPortMin(std::uint16_t AValue) { clientPortMin_ = AValue; }
    std::uint16_t ClientPortMax() const { return clientPortMax_; }
    void SetClientPortMax(std::uint16_t AValue) { clientPortMax_ = AValue; }
    const std::string& IP() const { return ip_; }
    void SetIP(const std::string& AValue) { ip_ = AValue; }
    TIdIPVersion IPVersion() const { return ipVersion_; }
    /// Throws EIdCannotSetIPVersionWhenConnected for a change while allocated.
    void SetIPVersion(TIdIPVersion AValue);
    std::uint16_t Port() const { return port_; }
    void SetPort(std::uint16_t AValue) { port_ = AValue; }
    TIdReuseSocket ReuseSocket() const { return reuseSocket_; }
    void SetReuseSocket(TIdReuseSocket AValue) { reuseSocket_ = AValue; }
    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool AValue) { useNagle_ = AValue; }
    const std::string& PeerIP() const { return peerIP_; }
    void SetPeerIP(const std::string& AValue) { peerIP_ = AValue; }
    std::uint16_t PeerPort() const { return peerPort_; }
    void SetPeerPort(std::uint16_t AValue) { peerPort_ = AValue; }

protected:
    /// Has the stack shut down and close the socket; raises nothing.
    virtual void DiscardSocket() noexcept;

private:
    void SetHandle(TIdStackSocketHandle AHandle);
    /// Runs AStep (true: done) on the wait of AMSec milliseconds (-1 and -2:
    /// without limit), cut into idle-sized steps while an anti-freeze is in
    /// use, with an anti-freeze step after each; true when a step was done.
    template <class TStep> bool InSteps(std::int32_t AMSec, TStep AStep);

    TIdStackSocketHandle handle_ = IdInvalidSocket;
    bool handleAllocated_ = false;
    std::int32_t receiveWait_ = -2; // the socket's own receive time-out; a new one has none
    int socketType_ = 0;
    bool overlapped_ = false;
    bool broadcastEnabled_ = false;
    std::uint16_t clientPortMin_ = 0;
    std::uint16_t clientPortMax_ = 0;
    std::string ip_;
    TIdIPVersion ipVersion_ = Id_IPv4;
    std::uint16_t port_ = 0;
    TIdReuseSocket reuseSocket_ = rsOSDependent;
    bool useNagle_ = true;
    std::string peerIP_;
    std::uint16_t peerPort_ = 0;
    std::mutex connectionLock_;
    TIdSocketList socketList_;
};
