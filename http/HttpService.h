// The HTTP service under the request object. On Windows it is the platform's
// own, wininet.dll; elsewhere the stand-in of WinInet.h, written on libcurl
// with the same names. The request object's logic (sslu.cpp) is the same on
// both; the few places where the two services must be met differently are
// the operations below, one implementation file per service.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wininet.h>
#else
#include "http/WinInet.h"
#endif

#include <chrono>
#include <functional>
#include <string>

/// True when an exception thrown by the status callback may leave the
/// service's blocking call and reach its caller. wininet.dll is no C++ code
/// that could be unwound: there the callback must hold the failure and the
/// request object raises it once the call has returned.
bool ServicePassesCallbackExceptions() noexcept;

/// The server name and port handed to InternetConnectA for the request
/// object's Host and ServerPort.
struct TServiceServer {
    std::string name;
    INTERNET_PORT port;
};
TServiceServer ServiceServer(const std::string& host, INTERNET_PORT port);

/// Writes the text of an error number into buffer (size bytes, NUL-ended)
/// and returns its length; 0 when neither the service nor the system has a
/// text for it.
DWORD ServiceErrorMessage(DWORD code, char* buffer, DWORD size) noexcept;

/// When a request must be over; TServiceDeadline::max() for no bound beyond
/// the service's own time-outs.
using TServiceDeadline = std::chrono::steady_clock::time_point;

/// Sends the request with body as HttpSendRequestA does and waits for the
/// head of its response, but not past deadline: the request's connect, send
/// and wait end there, and the call fails with ERROR_INTERNET_TIMEOUT or
/// whatever the service makes of the end (GetLastError). While the call
/// waits, beat runs on the calling thread at least every 50 ms, unless the
/// service's status callback beats for it; what beat throws leaves the call.
/// A call ended by the deadline or by beat leaves the request good for
/// nothing but closing.
bool ServiceSendRequest(HINTERNET request, const std::string& body, TServiceDeadline deadline,
                        const std::function<void()>& beat);

/// Waits for body bytes as InternetQueryDataAvailable does and gives their
/// number in available (0 at the end of the body), bounded by deadline and
/// beating as ServiceSendRequest.
bool ServiceQueryDataAvailable(HINTERNET request, DWORD& available, TServiceDeadline deadline,
                               const std::function<void()>& beat);
