// The HTTP service under the request object. On Windows it is the platform's
// own, wininet.dll; elsewhere the stand-in of WinInet.h, written on libcurl
// with the same names. The request object's logic (sslu.cpp) is the same on
// both; the few places where the two services must be met differently are
// the three operations below, one implementation file per service.
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
