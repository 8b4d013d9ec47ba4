// TIdUDPBase: the endpoint's defaults, Active and BroadcastEnabled, and the
// send-to and receive operations with their time-out rules. The handle's
// allocation and bind (SocketHandle) and the connected peer are TIdUDPClient's.
#include "net/IdUDPBase.h"

TIdUDPBase::TIdUDPBase(TComponent* AOwner) : TIdComponent(AOwner) {
    InitDefaults();
}

void TIdUDPBase::InitDefaults() {
    bufferSize_ = 8192;
    receiveTimeout_ = -2;
    reuseSocket_ = rsOSDependent;
    ipVersion_ = Id_IPv4;
}

TIdUDPBase::~TIdUDPBase() {
    binding_.reset();
}

bool TIdUDPBase::Active() const {
    return binding_ && binding_->HandleAllocated();
}

void TIdUDPBase::SetActive(bool AValue) {
    if (loading_) {
        storedActive_ = AValue;
        return;
    }
    if (AValue == Active())
        return;
    if (AValue)
        SocketHandle();
    else
        DropSocketHandle();
}

void TIdUDPBase::Loaded() {
    loading_ = false;
    if (storedActive_)
        SetActive(true);
}

void TIdUDPBase::SetBroadcastEnabled(bool AValue) {
    if (AValue == broadcastEnabled_)
        return;
    broadcastEnabled_ = AValue;
    if (Active())
        binding_->SetBroadcastEnabled(AValue);
}

void TIdUDPBase::DropSocketHandle() {
    binding_.reset();
}

std::int32_t TIdUDPBase::EffectiveTimeout(std::int32_t AMSec) const {
    if (AMSec != -1)
        return AMSec;
    return receiveTimeout_ == 0 ? -2 : receiveTimeout_;
}

int TIdUDPBase::ReceiveDatagram(TIdBytes& ABuffer, std::string& VPeerIP, std::uint16_t& VPeerPort,
                                TIdIPVersion& VIPVersion, std::int32_t AMSec) {
    const std::int32_t wait = EffectiveTimeout(AMSec);
    TIdSocketHandle& handle = SocketHandle();
    const int n = handle.ReceiveBytesFromWithin(ABuffer, VPeerIP, VPeerPort, VIPVersion, wait);
    if (n >= 0)
        return n;
    VPeerIP.clear();
    VPeerPort = 0;
    return 0;
}

int TIdUDPBase::ReceiveDatagram(TIdBytes& ABuffer, std::string& VPeerIP, std::uint16_t& VPeerPort,
                                std::int32_t AMSec) {
    TIdIPVersion version = ipVersion_;
    return ReceiveDatagram(ABuffer, VPeerIP, VPeerPort, version, AMSec);
}

int TIdUDPBase::ReceiveDatagram(TIdBytes& ABuffer, std::int32_t AMSec) {
    std::string peerIP;
    std::uint16_t peerPort = 0;
    return ReceiveDatagram(ABuffer, peerIP, peerPort, AMSec);
}

void TIdUDPBase::SendDatagramTo(const std::string& AHost, std::uint16_t APort,
                                TIdIPVersion AIPVersion, const TIdBytes& AData) {
    // Resolved on every call: a name may change its address between datagrams.
    const std::string address = GStack->ResolveHostAddress(AHost, AIPVersion);
    SocketHandle().SendBytesTo(address, APort, AIPVersion, AData);
}

void TIdUDPBase::SendDatagramTo(const std::string& AHost, std::uint16_t APort,
                                const TIdBytes& AData) {
    SendDatagramTo(AHost, APort, IPVersion(), AData);
}
