// A POSIX stack whose resolver never leaves the machine: it records the names
// it is asked for and fails them with a chosen getaddrinfo code, passing only
// "localhost" to the real resolver (the hosts file knows it). Registered for
// the lifetime of a ScopedOfflineStack, while no other stack usage exists.
#pragma once

#include <netdb.h>

#include <string>
#include <vector>

#include "net/IdStack.h"

class TIdStackOffline : public TIdStackPosix {
public:
    static inline int Code = EAI_NONAME;
    static inline std::vector<std::string> Asked;

protected:
    int GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                       TIdRawAddress& VAddress) override {
        Asked.push_back(AASCIIHost);
        if (AASCIIHost == "localhost")
            return TIdStackPosix::GetAddressInfo(AASCIIHost, AIPVersion, VAddress);
        return Code;
    }
};

struct ScopedOfflineStack {
    explicit ScopedOfflineStack(int ACode = EAI_NONAME) : previous(StackClass()) {
        TIdStackOffline::Code = ACode;
        TIdStackOffline::Asked.clear();
        SetStackClass([]() -> TIdStack* { return new TIdStackOffline(); });
    }
    ~ScopedOfflineStack() { SetStackClass(previous); }
    ScopedOfflineStack(const ScopedOfflineStack&) = delete;
    ScopedOfflineStack& operator=(const ScopedOfflineStack&) = delete;

    TIdStackClass previous;
};

/// Holds one usage of GStack, as a component does.
struct StackUsage {
    StackUsage() { TIdStack::IncUsage(); }
    ~StackUsage() { TIdStack::DecUsage(); }
    StackUsage(const StackUsage&) = delete;
    StackUsage& operator=(const StackUsage&) = delete;
};
