// The platform HTTP service that the request object runs on: the handful of
// operations, handle types, flags, info levels and error numbers that the
// request object uses, with the names and values of the Windows HTTP service.
// The implementation (WinInetCurl.cpp) sits on libcurl; nothing of libcurl
// shows here, and no loader logic belongs here either.
//
// What the service does and promises:
// - Every operation blocks until done. While one blocks, the status callback
//   registered on the handle (or inherited from the handle it was created
//   under) runs on the calling thread at least every 50 ms. An exception
//   thrown by the callback leaves the operation and propagates to its caller;
//   the handles stay valid and are released by InternetCloseHandle.
// - Closing a handle never calls the status callback and never throws.
// - Failures set the calling thread's last error (GetLastError).
// - Time-outs: 5 s to connect, 15 s without any progress, 60 s per request;
//   InternetSetTransferTimeLimit, the stand-in's own, bounds one request
//   tighter.
#pragma once

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using LPVOID = void*;
/// A handle of the service: root session, connection or request. Handles are
/// pointer-sized; a value that the service did not hand out is refused.
using HINTERNET = void*;

using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET hInternet, DWORD_PTR dwContext,
                                          DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                                          DWORD dwStatusInformationLength);

/// Status information of INTERNET_STATUS_HANDLE_CREATED: the new handle, whole.
struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};

// Access types of InternetOpenA.
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0; // proxies from the environment
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;    // no proxy at all

constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// Request flags of HttpOpenRequestA.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
constexpr DWORD INTERNET_FLAG_FORMS_SUBMIT = 0x00000040;

constexpr DWORD HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;

// Info levels of HttpQueryInfoA.
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_SET_COOKIE = 43;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Status numbers handed to the status callback.
constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;

constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Error numbers.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
constexpr DWORD ERROR_HTTP_HEADER_ALREADY_EXISTS = 12155;
constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
/// The server's certificate could not be verified.
constexpr DWORD ERROR_INTERNET_SECURE_FAILURE = 12175;

/// Opens a root session; agent becomes the User-Agent of its requests (none
/// when empty). Only the access types PRECONFIG and DIRECT are known.
HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                        const char* lpszProxyBypass, DWORD dwFlags) noexcept;

/// Opens a connection handle under a root. Only records its arguments: a bad
/// server name or an unreachable server surfaces at HttpSendRequestA. The
/// server name may carry ":port", which wins over nServerPort; an IPv4 address
/// is read group by group in decimal, blanks around groups ignored, so
/// "192.168.001.010" names 192.168.1.10.
HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName,
                           INTERNET_PORT nServerPort, const char* lpszUserName,
                           const char* lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) noexcept;

/// Sets the status callback of a handle (none to remove it); handles created
/// under it later take it over. Returns the previous callback; on a bad handle
/// returns none and sets ERROR_INVALID_HANDLE.
INTERNET_STATUS_CALLBACK
InternetSetStatusCallback(HINTERNET hInternet,
                          INTERNET_STATUS_CALLBACK lpfnInternetCallback) noexcept;

/// Opens a request handle under a connection and reports it to the callback
/// as INTERNET_STATUS_HANDLE_CREATED. An empty version means "HTTP/1.1".
/// Throws whatever the status callback throws.
HINTERNET HttpOpenRequestA(HINTERNET hConnect, const char* lpszVerb, const char* lpszObjectName,
                           const char* lpszVersion, const char* lpszReferrer,
                           const char** lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext);

/// Adds header lines ("Name: value", separated by CR LF) to a request not yet
/// sent; dwHeadersLength -1 means up to the NUL. With HTTP_ADDREQ_FLAG_ADD_IF_NEW
/// a line whose name is present already (any letter case) is refused with
/// ERROR_HTTP_HEADER_ALREADY_EXISTS; the other lines are added all the same.
bool HttpAddRequestHeadersA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) noexcept;

/// Sends the request and waits for the head of the final response. Extra
/// headers are not supported (pass none). Throws whatever the callback throws.
bool HttpSendRequestA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                      const void* lpOptional, DWORD dwOptionalLength);

/// Queries the final response: HTTP_QUERY_RAW_HEADERS_CRLF, HTTP_QUERY_STATUS_CODE
/// (text, or a DWORD with HTTP_QUERY_FLAG_NUMBER) or HTTP_QUERY_SET_COOKIE (the
/// value at *lpdwIndex, which then advances). Texts are NUL-ended and
/// *lpdwBufferLength gets their length without the NUL; a buffer that is too
/// small gives ERROR_INSUFFICIENT_BUFFER and the size needed.
bool HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, void* lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex) noexcept;

/// Waits until body bytes are at hand and gives their number; 0 at the end of
/// the body. Throws whatever the callback throws.
bool InternetQueryDataAvailable(HINTERNET hFile, DWORD* lpdwNumberOfBytesAvailable, DWORD dwFlags,
                                DWORD_PTR dwContext);

/// Reads up to dwNumberOfBytesToRead body bytes, waiting for some; 0 at the
/// end of the body and after a failure. Throws whatever the callback throws.
bool InternetReadFile(HINTERNET hFile, void* lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead);

/// The stand-in's own; wininet.dll has no such call. Bounds the transfer that
/// the next HttpSendRequestA on the request starts, from its connect to the
/// last byte of the body, to dwMilliseconds (0: the service's own time-outs
/// only); past it the calls on the request fail with ERROR_INTERNET_TIMEOUT.
bool InternetSetTransferTimeLimit(HINTERNET hRequest, DWORD dwMilliseconds) noexcept;

/// Releases a handle of any kind. Handles created under it stay usable until
/// closed themselves.
bool InternetCloseHandle(HINTERNET hInternet) noexcept;

/// The error number of the calling thread's last failed call.
DWORD GetLastError() noexcept;

/// The system's text for a code. This platform has texts only for the few
/// system codes that the service itself sets (6, 87, 122), none for the
/// service's own numbers: for those it writes nothing and returns 0.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     char* lpBuffer, DWORD nSize, void* Arguments) noexcept;

/// Test seam: a fixed answer for a server name, so that no test asks a name
/// server. An empty address makes the lookup fail (ERROR_INTERNET_NAME_NOT_RESOLVED).
void InternetSetNameAnswerForTesting(const std::string& name, const std::string& address);
/// Removes every fixed answer.
void InternetClearNameAnswersForTesting();
