// TIdUDPBase: the datagram endpoint's common part, its properties and the
// send-to and receive operations over one owned socket handle. Opening,
// closing and the connected peer belong to TIdUDPClient; nothing here knows
// about TFTP or includes a socket header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdComponent.h"
#include "net/IdGlobal.h"
#include "net/IdSocketHandle.h"

class TIdUDPBase : public TIdComponent {
public:
    explicit TIdUDPBase(TComponent* AOwner = nullptr);
    /// Destroys the socket handle, closing its socket.
    ~TIdUDPBase() override;

    /// True while the socket handle exists and holds an allocated socket.
    bool Active() const;
    /// True allocates and binds the socket; false destroys the handle. While
    /// loading, only stores the value until Loaded.
    void SetActive(bool AValue);
    std::int32_t BufferSize() const { return bufferSize_; }
    void SetBufferSize(std::int32_t AValue) { bufferSize_ = AValue; }
    bool BroadcastEnabled() const { return broadcastEnabled_; }
    /// Copied to the socket handle at once while Active.
    void SetBroadcastEnabled(bool AValue);
    virtual TIdIPVersion IPVersion() const { return ipVersion_; }
    virtual void SetIPVersion(TIdIPVersion AValue) { ipVersion_ = AValue; }
    virtual const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& AValue) { host_ = AValue; }
    virtual std::uint16_t Port() const { return port_; }
    virtual void SetPort(std::uint16_t AValue) { port_ = AValue; }
    std::int32_t ReceiveTimeout() const { return receiveTimeout_; }
    void SetReceiveTimeout(std::int32_t AValue) { receiveTimeout_ = AValue; }
    TIdReuseSocket ReuseSocket() const { return reuseSocket_; }
    void SetReuseSocket(TIdReuseSocket AValue) { reuseSocket_ = AValue; }

    /// Starts loading from a form description: SetActive only stores its value.
    void BeginLoading() { loading_ = true; }
    /// Ends loading and applies the stored Active value.
    virtual void Loaded();

    /// The socket handle, created, allocated and bound on first use.
    virtual TIdSocketHandle& SocketHandle() = 0;
    /// Destroys the socket handle (closing its socket).
    virtual void DropSocketHandle();

    /// Receives one datagram into ABuffer from its start (its size() is the
    /// largest accepted; it is not resized) and returns the byte count.
    /// AMSec: -1 ReceiveTimeout (0 there: no limit), -2 no limit, else
    /// milliseconds. A time-out returns 0 with VPeerIP "" and VPeerPort 0.
    virtual int ReceiveDatagram(TIdBytes& ABuffer, std::string& VPeerIP, std::uint16_t& VPeerPort,
                                std::int32_t AMSec = -1);
    /// As above, also giving the sender's family (unchanged on a time-out).
    virtual int ReceiveDatagram(TIdBytes& ABuffer, std::string& VPeerIP, std::uint16_t& VPeerPort,
                                TIdIPVersion& VIPVersion, std::int32_t AMSec = -1);
    /// As above, without the sender.
    virtual int ReceiveDatagram(TIdBytes& ABuffer, std::int32_t AMSec = -1);
    /// Resolves AHost for AIPVersion (every call) and sends AData to it.
    /// Throws EIdPackageSizeTooBig, EIdNotAllBytesSent, EIdSocketError.
    virtual void SendDatagramTo(const std::string& AHost, std::uint16_t APort,
                                TIdIPVersion AIPVersion, const TIdBytes& AData);
    /// As above, with the endpoint's IPVersion.
    virtual void SendDatagramTo(const std::string& AHost, std::uint16_t APort,
                                const TIdBytes& AData);

protected:
    /// The effective wait for a receive's AMSec.
    std::int32_t EffectiveTimeout(std::int32_t AMSec) const;

    std::unique_ptr<TIdSocketHandle> binding_;

private:
    void InitDefaults();

    std::int32_t bufferSize_ = 0;
    bool broadcastEnabled_ = false;
    TIdIPVersion ipVersion_ = Id_IPv4;
    std::string host_;
    std::uint16_t port_ = 0;
    std::int32_t receiveTimeout_ = 0;
    TIdReuseSocket reuseSocket_ = rsOSDependent;
    bool loading_ = false;
    bool storedActive_ = false;
};
