// TIdUDPClient: the UDP endpoint that the TFTP client derives from. It binds
// its socket to the configured local address or port range, connects it to
// Host:Port on open and reports the open and close as statuses and events.
// No proxy support and no TFTP logic belong here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/IdUDPBase.h"

class TIdUDPClient : public TIdUDPBase {
public:
    explicit TIdUDPClient(TComponent* AOwner = nullptr);
    /// Closes an open endpoint (statuses and events included) and drops the
    /// handle; a failure raised by a handler is not passed on.
    ~TIdUDPClient() override;

    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& AValue) { boundIP_ = AValue; }
    std::uint16_t BoundPort() const { return boundPort_; }
    void SetBoundPort(std::uint16_t AValue) { boundPort_ = AValue; }
    std::uint16_t BoundPortMin() const { return boundPortMin_; }
    void SetBoundPortMin(std::uint16_t AValue) { boundPortMin_ = AValue; }
    std::uint16_t BoundPortMax() const { return boundPortMax_; }
    void SetBoundPortMax(std::uint16_t AValue) { boundPortMax_ = AValue; }

    /// Called at the end of a successful open.
    std::function<void(TIdComponent*)> OnConnected;
    /// Called during close, after the socket is closed.
    std::function<void(TIdComponent*)> OnDisconnected;

    /// Resolves Host, allocates and binds the socket and connects it to
    /// Host:Port; reports "Resolving hostname %s." for a name and "Connected.".
    /// Throws EIdSocketError (11001 "Host not found."), the bind failures.
    virtual void OpenEndpoint();
    /// Releases the socket of an open endpoint with "Disconnecting." and
    /// "Disconnected."; does nothing when not IsOpen().
    virtual void CloseEndpoint();
    /// The endpoint was opened and its handle holds an allocated socket.
    bool IsOpen() const;
    /// Sends AData to the connected peer when open, else to Host:Port.
    virtual void SendDatagram(const TIdBytes& AData);

    TIdSocketHandle& SocketHandle() override;
    void SetIPVersion(TIdIPVersion AValue) override;
    void SetHost(const std::string& AValue) override;
    void SetPort(std::uint16_t AValue) override;
    using TIdUDPBase::ReceiveDatagram;
    /// When open, the plain receive of the connected socket; 0 on a time-out.
    int ReceiveDatagram(TIdBytes& ABuffer, std::int32_t AMSec = -1) override;

protected:
    virtual void DoOnConnected();
    virtual void DoOnDisconnected();

private:
    void InitDefaults();

    std::string boundIP_;
    std::uint16_t boundPort_ = 0;
    std::uint16_t boundPortMin_ = 0;
    std::uint16_t boundPortMax_ = 0;
    bool opened_ = false;
};
