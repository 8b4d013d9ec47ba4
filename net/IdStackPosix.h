// The stack of POSIX systems. The build lists IdStackPosix.cpp, which also
// defines NewPlatformStack, on these systems only; no socket header is
// included here, system types stay in that file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/IdStackBSDBase.h"

/// The stack over POSIX sockets, poll() and getaddrinfo.
class TIdStackPosix : public TIdStackBSDBase {
public:
    TIdStackPosix();

    TIdStackSocketHandle NewSocket(int ASocketType, int AProtocol, bool AOverlapped,
                                   TIdIPVersion AIPVersion) override;
    void BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                    TIdIPVersion AIPVersion) override;
    void ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                       TIdIPVersion AIPVersion) override;
    void ShutAndClose(TIdStackSocketHandle ASocket) noexcept override;
    int SendOnSocket(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                     int ASize) override;
    int SendToAddress(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset, int ASize,
                      const std::string& AIP, std::uint16_t APort,
                      TIdIPVersion AIPVersion) override;
    int ReceiveOnSocket(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) override;
    int ReceiveFromAny(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                       std::uint16_t& VPort, TIdIPVersion& VIPVersion) override;
    void LocalAddressOf(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                        TIdIPVersion& VIPVersion) override;
    void PeerAddressOf(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                       TIdIPVersion& VIPVersion) override;
    void WriteSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption,
                           int AValue) override;
    int ReadSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption) override;
    int WaitForReadable(const std::vector<TIdStackSocketHandle>& ASockets,
                        std::int32_t AMSec) override;
    int ReceiveFromWithin(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                          std::uint16_t& VPort, TIdIPVersion& VIPVersion, std::int32_t AMSec,
                          std::int32_t& VWait) override;
    int LastSocketError() override;
    std::string LookupHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;

protected:
    int AddressFamily(TIdIPVersion AIPVersion) override;
    /// recvfrom() with AFlags added; -1 when a time-out or MSG_DONTWAIT
    /// found nothing.
    int ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                    std::uint16_t& VPort, TIdIPVersion& VIPVersion, int AFlags);
    /// The one call into the platform resolver: looks AASCIIHost up for the
    /// family of AIPVersion and gives the first address found. Returns
    /// getaddrinfo's code (0 on success). The seam through which a stack that
    /// must not ask a name server answers or fails lookups itself.
    virtual int GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                               TIdRawAddress& VAddress);
};
