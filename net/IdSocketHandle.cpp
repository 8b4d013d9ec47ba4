// TIdSocketHandle: allocation, bind rules, connect with address refresh,
// datagram send and receive, and the readiness wait, each through GStack.
// The handle holds one stack usage of its own, so GStack outlives every socket.
#include "net/IdSocketHandle.h"

#include "net/IdComponent.h"
#include "runtime/Format.h"
#include "runtime/Trace.h"

TIdSocketHandle::TIdSocketHandle() {
    TIdStack::IncUsage();
}

TIdSocketHandle::~TIdSocketHandle() {
    ReleaseSocket();
    try {
        TIdStack::DecUsage();
    } catch (...) {
        // A destructor passes nothing on; the failure is told all the same.
        TraceCurrentException("releasing the socket stack");
    }
}

void TIdSocketHandle::OpenSocket(int ASocketType, int AProtocol) {
    ReleaseSocket();
    SetHandle(GStack->NewSocket(ASocketType, AProtocol, overlapped_, ipVersion_));
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle AHandle) {
    if (handle_ != IdInvalidSocket)
        socketList_.Remove(handle_);
    handle_ = AHandle;
    handleAllocated_ = handle_ != IdInvalidSocket;
    receiveWait_ = -2;
    socketType_ = 0;
    if (!handleAllocated_)
        return;
    socketList_.Add(handle_);
    socketType_ = GStack->ReadSocketOption(handle_, IdSolSocket, IdSoType);
    // A handle that is allocated again keeps its BroadcastEnabled; the new
    // socket must carry the option too, or a later change to the same value
    // would never write it.
    if (broadcastEnabled_)
        GStack->WriteSocketOption(handle_, IdSolSocket, IdSoBroadcast, 1);
    if (socketType_ == IdSockStream)
        useNagle_ = GStack->ReadSocketOption(handle_, IdIpProtoTcp, IdTcpNoDelay) == 0;
}

void TIdSocketHandle::BindLocal() {
    GStack->WriteSocketOption(handle_, IdSolSocket, IdSoReuseAddr, reuseSocket_ == rsTrue ? 1 : 0);
    if (port_ == 0 && clientPortMin_ != 0 && clientPortMax_ != 0) {
        if (clientPortMin_ > clientPortMax_)
            throw EIdInvalidPortRange(
                Format("Invalid Port Range (%d - %d)", int{clientPortMin_}, int{clientPortMax_}));
        // From the top down, so the port chosen is the highest free one.
        for (int p = clientPortMax_; p >= clientPortMin_; --p)
            if (TryBindPort(static_cast<std::uint16_t>(p)))
                return;
        throw EIdCanNotBindPortInRange(Format("Can not bind in port range (%d - %d)",
                                              int{clientPortMin_}, int{clientPortMax_}));
    }
    try {
        GStack->BindSocket(handle_, ip_, port_, ipVersion_);
    } catch (const Exception&) {
        throw EIdCouldNotBindSocket("Could not bind socket.");
    }
    GStack->LocalAddressOf(handle_, ip_, port_, ipVersion_);
}

bool TIdSocketHandle::TryBindPort(std::uint16_t APort) {
    try {
        GStack->BindSocket(handle_, ip_, APort, ipVersion_);
        GStack->LocalAddressOf(handle_, ip_, port_, ipVersion_);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void TIdSocketHandle::AssignPeer(const std::string& AIP, std::uint16_t APort,
                                 TIdIPVersion AIPVersion) {
    peerIP_ = AIP;
    peerPort_ = APort;
    ipVersion_ = AIPVersion;
}

void TIdSocketHandle::ConnectToPeer() {
    GStack->ConnectSocket(handle_, peerIP_, peerPort_, ipVersion_);
    // Under the lock, so a release from another thread cannot close the socket
    // between the check and the two queries.
    std::lock_guard<std::mutex> guard(connectionLock_);
    if (handleAllocated_) {
        GStack->LocalAddressOf(handle_, ip_, port_, ipVersion_);
        GStack->PeerAddressOf(handle_, peerIP_, peerPort_, ipVersion_);
    }
}

int TIdSocketHandle::SendBytes(const TIdBytes& AData, int AOffset, int ASize) {
    return GStack->SendOnSocket(handle_, AData, AOffset, ASize);
}

void TIdSocketHandle::SendBytesTo(const std::string& AIP, std::uint16_t APort,
                                  TIdIPVersion AIPVersion, const TIdBytes& AData) {
    GStack->SendToAddress(handle_, AData, 0, -1, AIP, APort, AIPVersion);
}

int TIdSocketHandle::ReceiveBytes(TIdBytes& VBuffer) {
    return GStack->ReceiveOnSocket(handle_, VBuffer);
}

int TIdSocketHandle::ReceiveBytesFrom(TIdBytes& VBuffer, std::string& VIP, std::uint16_t& VPort,
                                      TIdIPVersion& VIPVersion) {
    return GStack->ReceiveFromAny(handle_, VBuffer, VIP, VPort, VIPVersion);
}

template <class TStep> bool TIdSocketHandle::InSteps(std::int32_t AMSec, TStep AStep) {
    if (AMSec == -1)
        AMSec = -2;
    auto step = [&](std::int32_t t) {
        if (!handleAllocated_)
            throw EIdConnClosedGracefully("Connection Closed Gracefully.");
        const bool done = AStep(t);
        TIdAntiFreezeBase::AntiFreezeStep(!done, false);
        return done;
    };
    // With an anti-freeze in use the wait is cut into idle-sized steps, so the
    // main thread can process window events between them.
    if (TIdAntiFreezeBase::AntiFreezeInUse()) {
        const std::int32_t idle = TIdAntiFreezeBase::CurrentAntiFreeze->IdleTimeOut;
        if (AMSec == -2) {
            while (!step(idle)) {
            }
            return true;
        }
        while (AMSec > idle) {
            if (step(idle))
                return true;
            AMSec -= idle;
        }
    }
    return step(AMSec);
}

int TIdSocketHandle::ReceiveBytesFromWithin(TIdBytes& VBuffer, std::string& VIP,
                                            std::uint16_t& VPort, TIdIPVersion& VIPVersion,
                                            std::int32_t AMSec) {
    int n = -1;
    InSteps(AMSec, [&](std::int32_t t) {
        n = GStack->ReceiveFromWithin(handle_, VBuffer, VIP, VPort, VIPVersion, t, receiveWait_);
        return n >= 0;
    });
    return n;
}

bool TIdSocketHandle::WaitReadable(std::int32_t AMSec) {
    return InSteps(AMSec, [this](std::int32_t t) { return socketList_.SelectRead(t); });
}

void TIdSocketHandle::ReleaseSocket() noexcept {
    std::lock_guard<std::mutex> guard(connectionLock_);
    if (!handleAllocated_)
        return;
    handleAllocated_ = false;
    DiscardSocket();
    socketList_.Remove(handle_);
    handle_ = IdInvalidSocket;
    socketType_ = 0;
}

void TIdSocketHandle::DiscardSocket() noexcept {
    GStack->ShutAndClose(handle_);
}

void TIdSocketHandle::WriteSocketOption(int ALevel, int AOption, int AValue) {
    GStack->WriteSocketOption(handle_, ALevel, AOption, AValue);
}

int TIdSocketHandle::ReadSocketOption(int ALevel, int AOption) {
    return GStack->ReadSocketOption(handle_, ALevel, AOption);
}

void TIdSocketHandle::SetBroadcastEnabled(bool AValue) {
    if (AValue == broadcastEnabled_)
        return;
    broadcastEnabled_ = AValue;
    if (handleAllocated_)
        GStack->WriteSocketOption(handle_, IdSolSocket, IdSoBroadcast, AValue ? 1 : 0);
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion AValue) {
    if (AValue == ipVersion_)
        return;
    if (handleAllocated_)
        throw EIdCannotSetIPVersionWhenConnected("Cannot change IPVersion when connected");
    ipVersion_ = AValue;
}
