// The process-wide stack's lifetime (usage count, class registration), the
// socket error messages and the locked socket set. Platform calls live in the
// platform stack's file, address texts in IdStackBSDBase.cpp; neither belongs
// here.
#include "net/IdStack.h"

#include <algorithm>
#include <utility>

#include "runtime/Format.h"

namespace {

// Constant-initialised, so the lock exists before any component of any
// translation unit can be created, and it is never destroyed: a component
// destroyed late at program exit still finds it.
std::mutex gStackLock;
int gUsageCount = 0;
// The platform stack is registered by constant initialisation, so it is in
// place even for a component created by another file's static initialiser.
// NewPlatformStack comes from the platform stack's file that the build lists.
TIdStackClass gStackClass = &NewPlatformStack;

struct ErrorText {
    int code;
    const char* text;
};

// The socket error numbers are the Windows Sockets ones (10000 plus the BSD
// number), so every platform shows the same numbers and texts.
constexpr ErrorText ErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

} // namespace

TIdStack* GStack = nullptr;
std::mutex* GStackCriticalSection = &gStackLock;

void SetStackClass(TIdStackClass AClass) {
    std::lock_guard<std::mutex> guard(gStackLock);
    gStackClass = AClass;
}

TIdStackClass StackClass() {
    std::lock_guard<std::mutex> guard(gStackLock);
    return gStackClass;
}

// ---- Usage count -----------------------------------------------------------

void TIdStack::IncUsage() {
    if (!GStackCriticalSection)
        throw EIdStackError("GStackCriticalSection is nil in TIdStack.IncUsage");
    std::lock_guard<std::mutex> guard(*GStackCriticalSection);
    if (gUsageCount == 0) {
        if (GStack)
            throw EIdStackError("Stack already created.");
        if (!gStackClass)
            throw EIdStackError("Stack Class is undefined.");
        GStack = gStackClass();
    }
    ++gUsageCount;
}

void TIdStack::DecUsage() {
    if (!GStackCriticalSection)
        throw EIdStackError("GStackCriticalSection is nil in TIdStack.DecUsage");
    std::lock_guard<std::mutex> guard(*GStackCriticalSection);
    if (gUsageCount <= 0)
        return;
    if (--gUsageCount == 0) {
        delete std::exchange(GStack, nullptr);
    }
}

int TIdStack::UsageCount() {
    std::lock_guard<std::mutex> guard(gStackLock);
    return gUsageCount;
}

// ---- Errors ----------------------------------------------------------------

int TIdStack::CheckSocketResult(int AResult) {
    if (AResult == -1)
        ThrowLastSocketError();
    return AResult;
}

void TIdStack::ThrowLastSocketError() {
    ThrowSocketError(LastSocketError());
}

void TIdStack::ThrowSocketError(int ACode) {
    if (ACode == 10038)
        throw EIdNotASocket(ACode, SocketErrorText(ACode));
    throw EIdSocketError(ACode, SocketErrorText(ACode));
}

std::string TIdStack::SocketErrorText(int ACode) {
    const auto* end = std::end(ErrorTexts);
    const auto* it = std::find_if(std::begin(ErrorTexts), end,
                                  [ACode](const ErrorText& e) { return e.code == ACode; });
    return Format("Socket Error # %d\r\n%s", ACode, std::string(it == end ? "" : it->text));
}

// ---- TIdSocketList ---------------------------------------------------------

void TIdSocketList::Add(TIdStackSocketHandle AHandle) {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(sockets_.begin(), sockets_.end(), AHandle) != sockets_.end())
        return;
    if (sockets_.size() >= MaxSockets)
        throw EIdStackSetSizeExceeded("Set Size Exceeded.");
    sockets_.push_back(AHandle);
}

void TIdSocketList::Remove(TIdStackSocketHandle AHandle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = std::find(sockets_.begin(), sockets_.end(), AHandle);
    if (it == sockets_.end())
        return;
    *it = sockets_.back();
    sockets_.pop_back();
}

bool TIdSocketList::Contains(TIdStackSocketHandle AHandle) const {
    std::lock_guard<std::mutex> guard(lock_);
    return std::find(sockets_.begin(), sockets_.end(), AHandle) != sockets_.end();
}

std::size_t TIdSocketList::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sockets_.size();
}

void TIdSocketList::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    sockets_.clear();
}

std::vector<TIdStackSocketHandle> TIdSocketList::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sockets_;
}

int TIdStack::ReceiveFromWithin(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                                std::uint16_t& VPort, TIdIPVersion& VIPVersion, std::int32_t AMSec,
                                std::int32_t& /*VWait*/) {
    if (WaitForReadable({ASocket}, AMSec) == 0)
        return -1;
    return ReceiveFromAny(ASocket, VBuffer, VIP, VPort, VIPVersion);
}

bool TIdSocketList::SelectRead(std::int32_t AMSec) const {
    return GStack->WaitForReadable(Snapshot(), AMSec) > 0;
}
