// How the request object meets wininet.dll: the server text read by the same
// rules as on every other platform before the service sees it, the service's
// own error texts from its module, no exception let into it, and each
// blocking call bounded by the request's deadline from outside the service.
#include "http/HttpService.h"

#include <algorithm>
#include <memory>

#include "http/HttpText.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD BeatMs = 50;

// The whole milliseconds until deadline, at least 1 (0 would mean "no
// bound" to the service's time-out options, and "do not wait" to a wait).
DWORD MillisecondsUntil(TServiceDeadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<DWORD>(std::clamp<long long>(left.count(), 1, 0x7FFFFFFF));
}

// One blocking call of the service, what it needs and what it gave. The
// caller may leave before the call returns (the deadline, a failure of the
// beat); the call's thread still works with it then, so the two share it.
// The thread and the event that marks the call's end are the system's own:
// under Wine, a thread started and detached through winpthreads was seen,
// now and then, never to run its call.
struct TCall {
    TCall(HINTERNET r, BOOL (*o)(TCall&))
        : request(r), operation(o), finished(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~TCall() {
        if (finished != nullptr)
            CloseHandle(finished);
    }
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;

    const HINTERNET request;
    BOOL (*const operation)(TCall&);
    const HANDLE finished;
    BOOL result = FALSE;
    DWORD error = ERROR_SUCCESS;
    std::string body;    // what a send sends
    DWORD available = 0; // what a wait for body bytes found
};

DWORD WINAPI RunCall(LPVOID parameter) {
    const std::unique_ptr<std::shared_ptr<TCall>> held(
        static_cast<std::shared_ptr<TCall>*>(parameter));
    TCall& call = **held;
    call.result = call.operation(call);
    call.error = call.result ? ERROR_SUCCESS : GetLastError();
    SetEvent(call.finished);
    return 0;
}

// wininet.dll bounds no whole call: a server that trickles a byte now and then
// keeps a read going for as long as it likes, and under Wine neither a closed
// handle nor the connect time-out ends a blocked connect or read. So the call
// runs on a thread of its own while the caller beats and watches the
// deadline. A call given up runs out by itself, holding only its TCall and
// the service's handle, which the caller then closes (that ends it at once
// where the service honours a close).
bool RunBounded(const std::shared_ptr<TCall>& call, TServiceDeadline deadline,
                const std::function<void()>& beat) {
    if (call->finished == nullptr)
        return false; // CreateEventA has set the last error
    if (Clock::now() >= deadline) {
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
    // The status callback would run on the call's thread, where the
    // application's code (its message pump) must not run: the beat does that
    // here instead.
    InternetSetStatusCallback(call->request, nullptr);
    if (deadline != TServiceDeadline::max()) {
        // A call given up then ends by itself about when the caller left it,
        // unless bytes keep trickling in.
        DWORD ms = MillisecondsUntil(deadline);
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_RECEIVE_TIMEOUT})
            InternetSetOptionA(call->request, option, &ms, sizeof ms);
    }
    auto held = std::make_unique<std::shared_ptr<TCall>>(call);
    const HANDLE thread = CreateThread(nullptr, 0, RunCall, held.get(), 0, nullptr);
    if (thread == nullptr)
        return false; // CreateThread has set the last error
    held.release();   // the thread's now
    CloseHandle(thread);
    for (;;) {
        const DWORD wait = deadline == TServiceDeadline::max()
                               ? BeatMs
                               : std::min(BeatMs, MillisecondsUntil(deadline));
        if (WaitForSingleObject(call->finished, wait) == WAIT_OBJECT_0)
            break;
        if (Clock::now() >= deadline) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
        if (beat)
            beat();
    }
    SetLastError(call->error);
    return call->result != FALSE;
}

} // namespace

bool ServicePassesCallbackExceptions() noexcept {
    return false;
}

TServiceServer ServiceServer(const std::string& host, INTERNET_PORT port) {
    // The service would read "192.168.010.010" with octal groups and so ask a
    // different unit than the TFTP transfers go to, would take a ":port" as
    // part of the name, and would read forms like "10.1.5" as yet another
    // address. The shared reading gives the plain dotted address and the
    // port; a text it refuses becomes the empty name, which the service
    // refuses without asking any name server.
    const auto server = ParseServer(host);
    if (!server)
        return {"", port};
    return {server->name, server->port.value_or(port)};
}

DWORD ServiceErrorMessage(DWORD code, char* buffer, DWORD size) noexcept {
    // The service's numbers (12000 and up) have their texts in its own
    // module, every other number in the system's table; with both flags the
    // module is asked first.
    return FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM,
                          GetModuleHandleA("wininet.dll"), code, 0, buffer, size, nullptr);
}

bool ServiceSendRequest(HINTERNET request, const std::string& body, TServiceDeadline deadline,
                        const std::function<void()>& beat) {
    const auto call = std::make_shared<TCall>(request, [](TCall& c) {
        return HttpSendRequestA(c.request, nullptr, 0, c.body.empty() ? nullptr : c.body.data(),
                                static_cast<DWORD>(c.body.size()));
    });
    call->body = body;
    return RunBounded(call, deadline, beat);
}

bool ServiceQueryDataAvailable(HINTERNET request, DWORD& available, TServiceDeadline deadline,
                               const std::function<void()>& beat) {
    const auto call = std::make_shared<TCall>(request, [](TCall& c) {
        return InternetQueryDataAvailable(c.request, &c.available, 0, 0);
    });
    const bool found = RunBounded(call, deadline, beat);
    available = found ? call->available : 0;
    return found;
}
