// The stack over Windows Sockets 2: the socket library loaded at run time
// from "WS2_32.DLL" and started (version 2.2) by the first stack of the
// process, every socket call through the functions taken from it, the
// readiness wait on select, and the name lookup through getaddrinfo after the
// platform's own IDNA conversion. The error numbers are the platform's own,
// the socket error numbers themselves, so nothing is translated; only the
// library's socket option numbers (those of Linux) are. Its NewPlatformStack
// makes this the stack registered at program start. Address texts and socket
// address records belong in IdStackBSDBase.cpp.
#include <winsock2.h>
#include <ws2tcpip.h>

// windows.h after the sockets' headers: before them it brings the old ones.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/IdStackWindows.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "runtime/Format.h"

static_assert(IdSockStream == SOCK_STREAM && IdSockDgram == SOCK_DGRAM);
static_assert(IdIpProtoIp == IPPROTO_IP && IdIpProtoTcp == IPPROTO_TCP);
static_assert(sizeof(SOCKET) == sizeof(TIdStackSocketHandle));
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

namespace {

constexpr const char* LibraryFile = "WS2_32.DLL";
constexpr WORD kVersion22 = 0x0202;
// What a socket call reports when the network stack refused the route; the
// same condition as "no route to host".
constexpr int StatusHostUnreachable = static_cast<int>(0xC000023D);

/// The functions of the socket library that the stack calls, taken from the
/// loaded library by name.
struct TWinsockFunctions {
    decltype(&::WSAStartup) WSAStartup = nullptr;
    decltype(&::WSACleanup) WSACleanup = nullptr;
    decltype(&::WSAGetLastError) WSAGetLastError = nullptr;
    decltype(&::socket) socket = nullptr;
    decltype(&::bind) bind = nullptr;
    decltype(&::connect) connect = nullptr;
    decltype(&::shutdown) shutdown = nullptr;
    decltype(&::closesocket) closesocket = nullptr;
    decltype(&::send) send = nullptr;
    decltype(&::sendto) sendto = nullptr;
    decltype(&::recv) recv = nullptr;
    decltype(&::recvfrom) recvfrom = nullptr;
    decltype(&::setsockopt) setsockopt = nullptr;
    decltype(&::getsockopt) getsockopt = nullptr;
    decltype(&::getsockname) getsockname = nullptr;
    decltype(&::getpeername) getpeername = nullptr;
    decltype(&::select) select = nullptr;
    decltype(&::getaddrinfo) getaddrinfo = nullptr;
    decltype(&::freeaddrinfo) freeaddrinfo = nullptr;
};

/// "text" alone for code 0, else "text: " and the system's text for code.
[[noreturn]] void RaiseStubError(int code, std::string text) {
    if (code != 0)
        text += ": " + SysErrorMessage(code);
    throw EIdWinsockStubError(code, text);
}

template <class F> void Take(HMODULE library, F& function, const char* name) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    if (!function)
        RaiseStubError(WSAEINVAL, Format("Error on call to Winsock2 library function %s", name));
}

#define TAKE(name) Take(library, f.name, #name)

TWinsockFunctions TakeFunctions(HMODULE library) {
    TWinsockFunctions f;
    TAKE(WSAStartup);
    TAKE(WSACleanup);
    TAKE(WSAGetLastError);
    TAKE(socket);
    TAKE(bind);
    TAKE(connect);
    TAKE(shutdown);
    TAKE(closesocket);
    TAKE(send);
    TAKE(sendto);
    TAKE(recv);
    TAKE(recvfrom);
    TAKE(setsockopt);
    TAKE(getsockopt);
    TAKE(getsockname);
    TAKE(getpeername);
    TAKE(select);
    TAKE(getaddrinfo);
    TAKE(freeaddrinfo);
    return f;
}

#undef TAKE

/// The started socket library of the process; shut down once at program end.
class TWinsock {
public:
    ~TWinsock() {
        if (library_) {
            ws_.WSACleanup();
            ::FreeLibrary(library_);
        }
    }

    /// Loads and starts the library in file unless it has started already.
    /// Throws EIdWinsockStubError; a failed start leaves nothing loaded.
    void Start(const std::string& file) {
        std::lock_guard<std::mutex> guard(lock_);
        if (library_ && file == file_)
            return;
        const HMODULE library = ::LoadLibraryA(file.c_str());
        if (!library)
            RaiseStubError(static_cast<int>(::GetLastError()),
                           Format("Error on loading Winsock2 library (%s)", file));
        try {
            const TWinsockFunctions f = TakeFunctions(library);
            WSADATA data{};
            if (const int rc = f.WSAStartup(kVersion22, &data); rc != 0)
                RaiseStubError(rc, Format("Error on loading Winsock2 library (%s)", file));
            if (library_) {
                // Started before from another file: that one stays in use.
                f.WSACleanup();
                ::FreeLibrary(library);
                return;
            }
            ws_ = f;
            library_ = library;
            file_ = file;
        } catch (...) {
            ::FreeLibrary(library);
            throw;
        }
    }

    const TWinsockFunctions& operator*() const { return ws_; }

private:
    std::mutex lock_;
    HMODULE library_ = nullptr;
    std::string file_;
    TWinsockFunctions ws_;
};

TWinsock gWinsock;

const TWinsockFunctions& Ws() {
    return *gWinsock;
}

SOCKET Socket(TIdStackSocketHandle ASocket) {
    return static_cast<SOCKET>(ASocket);
}

sockaddr* Record(TIdSockAddr& a) {
    return reinterpret_cast<sockaddr*>(a.Bytes.data());
}

const char* SendFrom(const TIdBytes& AData, int AOffset, std::size_t count) {
    return count == 0 ? nullptr : reinterpret_cast<const char*>(AData.data()) + AOffset;
}

char* ReceiveInto(TIdBytes& VBuffer) {
    return reinterpret_cast<char*>(VBuffer.data());
}

/// The library's socket option (Linux's numbers) as Windows Sockets numbers
/// it: same conditions, other values.
struct OptionPair {
    int idLevel;
    int idOption;
    int level;
    int option;
};

constexpr OptionPair OptionPairs[] = {
    {IdSolSocket, IdSoReuseAddr, SOL_SOCKET, SO_REUSEADDR},
    {IdSolSocket, IdSoType, SOL_SOCKET, SO_TYPE},
    {IdSolSocket, IdSoBroadcast, SOL_SOCKET, SO_BROADCAST},
    {IdIpProtoTcp, IdTcpNoDelay, IPPROTO_TCP, TCP_NODELAY},
};

OptionPair PlatformOption(int ALevel, int AOption) {
    for (const OptionPair& p : OptionPairs)
        if (p.idLevel == ALevel && p.idOption == AOption)
            return p;
    // Any other option keeps its number; the socket level is the platform's.
    return {ALevel, AOption, ALevel == IdSolSocket ? SOL_SOCKET : ALevel, AOption};
}

bool HasNonAscii(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

[[noreturn]] void RaiseConversionError(const std::string& AHost) {
    const int e = static_cast<int>(::GetLastError());
    throw EOSError(Format("Converting host name %s to ASCII failed: %s", AHost, SysErrorMessage(e)),
                   e);
}

/// The host in its ASCII-compatible form, by the platform's IDNA conversion
/// of the text read in the system's ANSI code page. Texts of plain ASCII are
/// already in it.
std::string ToASCIIHost(const std::string& AHost) {
    if (!HasNonAscii(AHost))
        return AHost;
    const int size = static_cast<int>(AHost.size());
    std::wstring wide(AHost.size(), L'\0');
    const int n =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, AHost.data(), size, wide.data(), size);
    if (n <= 0)
        RaiseConversionError(AHost);
    wchar_t ascii[256] = {};
    const int m = ::IdnToAscii(0, wide.data(), n, ascii, 255);
    if (m <= 0)
        RaiseConversionError(AHost);
    return std::string(ascii, ascii + m);
}

/// The socket set as select takes it: a copy of a socket list's sockets in
/// an fd_set on the caller's stack.
class TIdSocketListWindows {
public:
    explicit TIdSocketListWindows(const std::vector<TIdStackSocketHandle>& ASockets) {
        FD_ZERO(&set_);
        for (const TIdStackSocketHandle s : ASockets)
            FD_SET(Socket(s), &set_);
    }

    /// The number of readable sockets within ATimeout (nullptr: no limit);
    /// SOCKET_ERROR on failure.
    int SelectRead(timeval* ATimeout) { return Ws().select(0, &set_, nullptr, nullptr, ATimeout); }

private:
    fd_set set_;
};

} // namespace

TIdStack* NewPlatformStack() {
    return new TIdStackWindows();
}

TIdStackWindows::TIdStackWindows() : TIdStackWindows(LibraryFile) {}

TIdStackWindows::TIdStackWindows(const std::string& ALibraryFile) {
    try {
        gWinsock.Start(ALibraryFile);
    } catch (const Exception& e) {
        throw EIdStackInitializationFailed(e.Message());
    }
}

int TIdStackWindows::AddressFamily(TIdIPVersion AIPVersion) {
    switch (AIPVersion) {
    case Id_IPv4:
        return AF_INET;
    case Id_IPv6:
        return AF_INET6;
    }
    throw EIdIPVersionUnsupported("The requested IPVersion / Address family is not supported.");
}

int TIdStackWindows::LastSocketError() {
    const int code = Ws().WSAGetLastError();
    return code == StatusHostUnreachable ? WSAEHOSTUNREACH : code;
}

TIdStackSocketHandle TIdStackWindows::NewSocket(int ASocketType, int AProtocol, bool AOverlapped,
                                                TIdIPVersion AIPVersion) {
    // Sockets from socket() are overlapped-capable already; the flag changes
    // nothing on this path, which never sets it.
    (void)AOverlapped;
    const SOCKET s = Ws().socket(AddressFamily(AIPVersion), ASocketType, AProtocol);
    if (s == INVALID_SOCKET)
        ThrowLastSocketError();
    return static_cast<TIdStackSocketHandle>(s);
}

void TIdStackWindows::BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                                 std::uint16_t APort, TIdIPVersion AIPVersion) {
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    CheckSocketResult(Ws().bind(Socket(ASocket), Record(a), a.Length));
}

void TIdStackWindows::ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                                    std::uint16_t APort, TIdIPVersion AIPVersion) {
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    CheckSocketResult(Ws().connect(Socket(ASocket), Record(a), a.Length));
}

void TIdStackWindows::ShutAndClose(TIdStackSocketHandle ASocket) noexcept {
    // Both results are ignored: a datagram socket that was never connected
    // fails the shutdown, and nothing can be done about a failed close.
    (void)Ws().shutdown(Socket(ASocket), SD_SEND);
    (void)Ws().closesocket(Socket(ASocket));
}

int TIdStackWindows::SendOnSocket(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                                  int ASize) {
    const std::size_t count = SendCount(AData, AOffset, ASize);
    return CheckSocketResult(
        Ws().send(Socket(ASocket), SendFrom(AData, AOffset, count), static_cast<int>(count), 0));
}

int TIdStackWindows::SendToAddress(TIdStackSocketHandle ASocket, const TIdBytes& AData, int AOffset,
                                   int ASize, const std::string& AIP, std::uint16_t APort,
                                   TIdIPVersion AIPVersion) {
    const std::size_t count = SendCount(AData, AOffset, ASize);
    TIdSockAddr a = MakeSockAddr(AIP, APort, AIPVersion);
    const int sent = Ws().sendto(Socket(ASocket), SendFrom(AData, AOffset, count),
                                 static_cast<int>(count), 0, Record(a), a.Length);
    if (sent == SOCKET_ERROR) {
        const int code = LastSocketError();
        if (code == WSAEMSGSIZE)
            throw EIdPackageSizeTooBig("Package Size Too Big.");
        ThrowSocketError(code);
    }
    if (static_cast<std::size_t>(sent) != count)
        throw EIdNotAllBytesSent("Not all bytes sent.");
    return static_cast<int>(count);
}

// A datagram longer than the buffer fails here by itself, with WSAEMSGSIZE.
int TIdStackWindows::ReceiveOnSocket(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) {
    return CheckSocketResult(
        Ws().recv(Socket(ASocket), ReceiveInto(VBuffer), static_cast<int>(VBuffer.size()), 0));
}

int TIdStackWindows::ReceiveFromAny(TIdStackSocketHandle ASocket, TIdBytes& VBuffer,
                                    std::string& VIP, std::uint16_t& VPort,
                                    TIdIPVersion& VIPVersion) {
    TIdSockAddr from;
    int length = static_cast<int>(from.Bytes.size());
    const int n = CheckSocketResult(Ws().recvfrom(Socket(ASocket), ReceiveInto(VBuffer),
                                                  static_cast<int>(VBuffer.size()), 0, Record(from),
                                                  &length));
    DecodeSockAddr(from, VIP, VPort, VIPVersion);
    return n;
}

void TIdStackWindows::LocalAddressOf(TIdStackSocketHandle ASocket, std::string& VIP,
                                     std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    TIdSockAddr a;
    int length = static_cast<int>(a.Bytes.size());
    CheckSocketResult(Ws().getsockname(Socket(ASocket), Record(a), &length));
    DecodeSockAddr(a, VIP, VPort, VIPVersion);
}

void TIdStackWindows::PeerAddressOf(TIdStackSocketHandle ASocket, std::string& VIP,
                                    std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    TIdSockAddr a;
    int length = static_cast<int>(a.Bytes.size());
    CheckSocketResult(Ws().getpeername(Socket(ASocket), Record(a), &length));
    DecodeSockAddr(a, VIP, VPort, VIPVersion);
}

void TIdStackWindows::WriteSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption,
                                        int AValue) {
    const OptionPair o = PlatformOption(ALevel, AOption);
    CheckSocketResult(Ws().setsockopt(Socket(ASocket), o.level, o.option,
                                      reinterpret_cast<const char*>(&AValue), sizeof AValue));
}

int TIdStackWindows::ReadSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOption) {
    const OptionPair o = PlatformOption(ALevel, AOption);
    int value = 0;
    int length = sizeof value;
    CheckSocketResult(Ws().getsockopt(Socket(ASocket), o.level, o.option,
                                      reinterpret_cast<char*>(&value), &length));
    return value;
}

int TIdStackWindows::WaitForReadable(const std::vector<TIdStackSocketHandle>& ASockets,
                                     std::int32_t AMSec) {
    // -2 waits without limit; any other negative time is an invalid select()
    // time limit.
    if (AMSec < 0 && AMSec != -2)
        ThrowSocketError(WSAEINVAL);
    timeval limit{};
    limit.tv_sec = AMSec / 1000;
    limit.tv_usec = (AMSec % 1000) * 1000;
    TIdSocketListWindows set(ASockets);
    return CheckSocketResult(set.SelectRead(AMSec == -2 ? nullptr : &limit));
}

std::string TIdStackWindows::LookupHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
    AddressFamily(AIPVersion); // refuses an unsupported version before any lookup
    TIdRawAddress address;
    // The resolver's codes are socket error numbers already (11001 for a
    // name that does not exist).
    if (const int rc = GetAddressInfo(ToASCIIHost(AHost), AIPVersion, address); rc != 0)
        ThrowSocketError(rc);
    return AddressToText(address, AIPVersion);
}

int TIdStackWindows::GetAddressInfo(const std::string& AASCIIHost, TIdIPVersion AIPVersion,
                                    TIdRawAddress& VAddress) {
    addrinfo hints{};
    hints.ai_family = AddressFamily(AIPVersion);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = Ws().getaddrinfo(AASCIIHost.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return rc;
    // The hints hold the family, so the first entry has it.
    int result = 0;
    if (list->ai_family == AF_INET)
        std::memcpy(VAddress.Bytes.data(), &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr,
                    4);
    else if (list->ai_family == AF_INET6)
        std::memcpy(VAddress.Bytes.data(),
                    &reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr, 16);
    else
        result = EAI_FAMILY;
    Ws().freeaddrinfo(list);
    return result;
}
