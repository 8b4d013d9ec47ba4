// TIdUDPClient: allocation and bind of the endpoint's socket, open (resolve,
// connect, statuses and OnConnected), close, and the send to the connected
// peer. The statuses' texts come from the notifications base.
#include "net/IdUDPClient.h"

#include "net/IdStackBSDBase.h"
#include "runtime/Trace.h"

TIdUDPClient::TIdUDPClient(TComponent* AOwner) : TIdUDPBase(AOwner) {
    InitDefaults();
}

void TIdUDPClient::InitDefaults() {
    opened_ = false;
    boundPort_ = 0;
    boundPortMin_ = 0;
    boundPortMax_ = 0;
}

TIdUDPClient::~TIdUDPClient() {
    try {
        if (IsOpen())
            CloseEndpoint();
    } catch (...) {
        // A handler that fails while the endpoint goes away has nobody left
        // to report to but the trace; the socket is released by the handle
        // regardless.
        TraceCurrentException("closing the UDP endpoint");
    }
    DropSocketHandle();
}

TIdSocketHandle& TIdUDPClient::SocketHandle() {
    if (!binding_)
        binding_ = std::make_unique<TIdSocketHandle>();
    if (binding_->HandleAllocated())
        return *binding_;
    binding_->SetIPVersion(IPVersion());
    binding_->OpenSocket(IdSockDgram, IdIpProtoIp);
    binding_->SetIP(boundIP_);
    binding_->SetPort(boundPort_);
    binding_->SetClientPortMin(boundPortMin_);
    binding_->SetClientPortMax(boundPortMax_);
    binding_->SetReuseSocket(ReuseSocket());
    binding_->BindLocal();
    binding_->SetBroadcastEnabled(BroadcastEnabled());
    return *binding_;
}

void TIdUDPClient::OpenEndpoint() {
    if (IsOpen())
        CloseEndpoint();
    std::string peerIP;
    const bool literal =
        IPVersion() == Id_IPv4 ? GStack->IsIPv4Literal(Host()) : !CanonicalIPv6Text(Host()).empty();
    if (literal) {
        peerIP = Host();
    } else {
        ReportStatus(hsResolving, {Host()});
        peerIP = GStack->ResolveHostAddress(Host(), IPVersion());
    }
    TIdSocketHandle& handle = SocketHandle();
    handle.AssignPeer(peerIP, Port(), IPVersion());
    handle.ConnectToPeer();
    ReportStatus(hsConnected, {Host()});
    DoOnConnected();
    opened_ = true;
}

void TIdUDPClient::CloseEndpoint() {
    if (!IsOpen())
        return;
    ReportStatus(hsDisconnecting);
    binding_->ReleaseSocket();
    DoOnDisconnected();
    ReportStatus(hsDisconnected);
    opened_ = false;
}

bool TIdUDPClient::IsOpen() const {
    return opened_ && binding_ && binding_->HandleAllocated();
}

void TIdUDPClient::SendDatagram(const TIdBytes& AData) {
    if (IsOpen())
        binding_->SendBytes(AData);
    else
        SendDatagramTo(Host(), Port(), IPVersion(), AData);
}

void TIdUDPClient::SetIPVersion(TIdIPVersion AValue) {
    if (AValue != IPVersion())
        CloseEndpoint();
    TIdUDPBase::SetIPVersion(AValue);
}

void TIdUDPClient::SetHost(const std::string& AValue) {
    if (AValue != Host())
        CloseEndpoint();
    TIdUDPBase::SetHost(AValue);
}

void TIdUDPClient::SetPort(std::uint16_t AValue) {
    if (AValue != Port())
        CloseEndpoint();
    TIdUDPBase::SetPort(AValue);
}

int TIdUDPClient::ReceiveDatagram(TIdBytes& ABuffer, std::int32_t AMSec) {
    if (!IsOpen())
        return TIdUDPBase::ReceiveDatagram(ABuffer, AMSec);
    if (!binding_->WaitReadable(EffectiveTimeout(AMSec)))
        return 0;
    return binding_->ReceiveBytes(ABuffer);
}

void TIdUDPClient::DoOnConnected() {
    if (OnConnected)
        OnConnected(this);
}

void TIdUDPClient::DoOnDisconnected() {
    if (OnDisconnected)
        OnDisconnected(this);
}
