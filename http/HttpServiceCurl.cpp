// How the request object meets the libcurl stand-in of the HTTP service: it
// reads the server text itself, keeps its error texts in its FormatMessageA,
// and lets a callback's exception through.
#include "http/HttpService.h"

bool ServicePassesCallbackExceptions() noexcept {
    return true;
}

TServiceServer ServiceServer(const std::string& host, INTERNET_PORT port) {
    return {host, port};
}

DWORD ServiceErrorMessage(DWORD code, char* buffer, DWORD size) noexcept {
    return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, size, nullptr);
}
