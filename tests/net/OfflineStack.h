// Stack helpers for the net tests: a platform stack whose resolver never leaves
// the machine (it records the names asked for and fails them with a chosen
// getaddrinfo code, passing only "localhost" to the real resolver, which the
// hosts file answers), a stack usage held like a component's, and the check
// of a socket error's class, number and message together.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PlatformStack.h"
#include "tests/support/Failure.h"

class TIdStackOffline : public TIdStackPlatform {
public:
    static inline int Code = EAI_NONAME;
    static inline std::vector<std::string> Asked;

protected:
    int GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                       TIdRawAddress& VAddress) override {
        Asked.push_back(AASCIIHost);
        if (AASCIIHost == "localhost")
            return TIdStackPlatform::GetAddressInfo(AASCIIHost, AIPVersion, VAddress);
        return Code;
    }
};

/// Registers TIdStackOffline; takes effect when GStack is next created.
struct ScopedOfflineStack {
    explicit ScopedOfflineStack(int ACode = EAI_NONAME) : previous(StackClass()) {
        TIdStackOffline::Code = ACode;
        TIdStackOffline::Asked.clear();
        SetStackClass([]() -> TIdStack* { return new TIdStackOffline(); });
    }
    ~ScopedOfflineStack() { SetStackClass(previous); }
    TIdStackClass previous;
};

/// Holds one usage of GStack, as a component does.
struct StackUsage {
    StackUsage() { TIdStack::IncUsage(); }
    ~StackUsage() { TIdStack::DecUsage(); }
};

/// A fresh IPv4 datagram socket of the stack, closed at the end of the scope.
struct StackSocket {
    TIdStackSocketHandle fd = GStack->NewSocket(IdSockDgram, IdIpProtoIp, false, Id_IPv4);
    ~StackSocket() { GStack->ShutAndClose(fd); }
};

/// Runs call and expects EIdSocketError with ACode and its full message.
inline void ExpectSocketError(const std::function<void()>& call, int ACode) {
    ExpectFailure<EIdSocketError>(
        call, TIdStack::SocketErrorText(ACode),
        [ACode](const EIdSocketError& e) { EXPECT_EQ(e.LastError(), ACode); });
}
