// How the request object meets wininet.dll: the server text read by the same
// rules as on every other platform before the service sees it, the service's
// own error texts from its module, and no exception let into it.
#include "http/HttpService.h"

#include "http/HttpText.h"

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
