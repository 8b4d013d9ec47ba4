// How the request object meets the libcurl stand-in of the HTTP service: it
// reads the server text itself, keeps its error texts in its FormatMessageA,
// lets a callback's exception through, beats through the status callback,
// and bounds a whole transfer itself.
#include "http/HttpService.h"

#include <algorithm>
#include <cstdint>

bool ServicePassesCallbackExceptions() noexcept {
    return true;
}

TServiceServer ServiceServer(const std::string& host, INTERNET_PORT port) {
    return {host, port};
}

DWORD ServiceErrorMessage(DWORD code, char* buffer, DWORD size) noexcept {
    return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, size, nullptr);
}

bool ServiceSendRequest(HINTERNET request, const std::string& body, TServiceDeadline deadline,
                        const std::function<void()>& /*beat*/) {
    if (deadline != TServiceDeadline::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        // At least 1 ms: 0 would lift the bound instead.
        const auto limit = std::clamp<std::int64_t>(left.count(), 1, UINT32_MAX);
        if (!InternetSetTransferTimeLimit(request, static_cast<DWORD>(limit)))
            return false;
    }
    return HttpSendRequestA(request, nullptr, 0, body.empty() ? nullptr : body.data(),
                            static_cast<DWORD>(body.size()));
}

bool ServiceQueryDataAvailable(HINTERNET request, DWORD& available, TServiceDeadline /*deadline*/,
                               const std::function<void()>& /*beat*/) {
    // The transfer's bound, set at the send, covers the body too.
    return InternetQueryDataAvailable(request, &available, 0, 0);
}
