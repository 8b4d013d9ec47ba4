// The stack of Windows. The build lists IdStackWindows.cpp, which also
// defines NewPlatformStack, on Windows only; no Windows header is included
// here, system types stay in that file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/IdStackBSDBase.h"

/// The stack over Windows Sockets 2, loaded at run time from "WS2_32.DLL" and
/// started (version 2.2) by the first stack of the process.
class TIdStackWindows : public TIdStackBSDBase {
public:
    /// Throws EIdStackInitializationFailed with the loading failure's message
    /// when the socket library cannot be loaded or started.
    TIdStackWindows();

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
    int LastSocketError() override;
    std::string LookupHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;

protected:
    /// A stack on the socket library in the file ALibraryFile: the seam
    /// through which a test loads a library that is missing or lacks a
    /// function. A library that started once is not loaded again.
    explicit TIdStackWindows(const std::string& ALibraryFile);

    int AddressFamily(TIdIPVersion AIPVersion) override;
    /// The one call into the platform resolver: looks AASCIIHost up for the
    /// family of AIPVersion and gives the first address found. Returns
    /// getaddrinfo's code (0 on success, else a socket error number). The
    /// seam through which a stack that must not ask a name server answers or
    /// fails lookups itself.
    virtual int GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                               TIdRawAddress& VAddress);
};
