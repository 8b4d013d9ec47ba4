// The HTTP request object THttp_Socket, the URL helpers around it, the error
// texts of the HTTP service, and the message-pump hook through which the
// application reaches this layer (the agent name is the application title of
// runtime/Application.h). Only the request's logic lives here; the HTTP
// service itself is HttpService.h. Nothing of the application's window
// belongs here: http/ must not depend on app/.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "http/HttpService.h"
#include "runtime/Stream.h"
#include "runtime/StringList.h"

/// Sets the function that handles the application's waiting window messages
/// once; it may throw to cancel the running request. None by default.
void SetPumpMessagesHook(std::function<void()> pump);

/// One HTTP request, run whole in one blocking call. Each object runs one
/// request; its platform handles are released at the end of Execute or, when
/// Execute raises, by the destructor.
class THttp_Socket {
public:
    THttp_Socket();
    ~THttp_Socket();
    THttp_Socket(const THttp_Socket&) = delete;
    THttp_Socket& operator=(const THttp_Socket&) = delete;

    /// Runs the request with the fields as set and fills StatusCode,
    /// RawHeaders, SetCookie and Response. A send failure goes to ReportError
    /// ("Send request failed with error " and InternetErrorText), and so does
    /// a body that could not be read whole (see FillResponseStream); without
    /// OnError that raises Exception. A request that TimeLimit ended, at
    /// whichever step, reports "Request timed out after N ms" instead, N
    /// being TimeLimit. Throws what the message pump throws.
    void Execute();
    /// Opens RootHandle and ConnectHandle, for direct access: no proxy of the
    /// environment or of the system's settings is used. TimeLimit counts from
    /// here. False when no connect handle came.
    bool OpenConnection();
    /// Opens RequestHandle with the request flags and adds RequestHeaders and
    /// the Range header.
    void OpenRequest();
    /// Adds Content-Length and sends the request with PostData as its body;
    /// false when either failed or TimeLimit ended it (GetLastError tells why).
    /// The message pump runs at least every 50 ms meanwhile.
    bool SendRequest();
    /// Reads the response's headers, status, first Set-Cookie and body.
    /// Throws EInternalError without a request handle. A body that could not
    /// be read whole goes to ReportError and gives false: a failed read
    /// ("Read response failed with error " and InternetErrorText), a body
    /// shorter than its Content-Length (as error 12030, the connection
    /// aborted), or one longer than ResponseLimit ("Response larger than %d
    /// bytes", refused before it is read when its Content-Length says so).
    /// Reads no body when no response came (the send step tells why).
    bool FillResponseStream();
    /// Removes the status callback and releases all three handles.
    void CloseHandles() noexcept;
    /// Hands (text, fatal) to OnError when set; otherwise raises Exception
    /// with the text when fatal.
    void ReportError(const std::string& text, bool fatal);

    TStringList RequestHeaders;
    std::string Path;
    TStringList PostData;
    std::uint8_t Verb = 0;
    HINTERNET ConnectHandle = nullptr;
    HINTERNET RequestHandle = nullptr;
    HINTERNET RootHandle = nullptr;
    bool Secure = false;
    std::string Host;
    std::string Password;
    std::string UserName;
    std::string Referrer;
    std::uint16_t ServerPort = 0;
    std::string RawHeaders;
    std::string SetCookie;
    std::int32_t StatusCode = 0;
    TMemoryStream Response;
    bool Unattended = false;
    std::int32_t RangeStart = -1;
    std::int32_t RangeEnd = -1;
    bool FollowRedirects = false;
    /// The most body bytes that Response may take; -1 for no limit.
    std::int64_t ResponseLimit = -1;
    /// The most time that the request may take, from the open to the last
    /// byte of the body, whether it connects, waits or receives meanwhile;
    /// past it the request ends as a failed one. Zero or less: no bound but
    /// the service's own.
    std::chrono::milliseconds TimeLimit{0};
    std::function<void(const std::string& text, bool fatal)> OnError;

    /// True once TimeLimit has ended the request (its failure then reads
    /// "Request timed out after N ms").
    bool TimedOut() const noexcept { return timedOut_; }

private:
    friend void HttpStatusCallback(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD);
    void StatusChanged(DWORD status, const void* information, DWORD length);
    /// Raises the failure that the message pump threw inside a service call
    /// whose service could not pass it on, once that call has returned.
    void RaiseHeldFailure();
    /// The reason for a failed step: step and the text of code, or the time
    /// limit's once the deadline has passed (TimedOut then).
    std::string FailureText(const std::string& step, DWORD code);

    std::exception_ptr heldFailure_;
    TServiceDeadline deadline_ = TServiceDeadline::max();
    bool timedOut_ = false;
};

/// The URL less a leading "HTTP://" in any letter case; no other scheme.
std::string StripHttpScheme(const std::string& url);
/// The server part of the URL: up to the first "/" after the scheme, port and
/// user part included.
std::string HostOfUrl(const std::string& url);
/// The object part of the URL: from the first "/" after the scheme, query
/// included; "/" when there is none.
std::string PathOfUrl(const std::string& url);
/// The decimal code, a blank and the system's text for it, or, where the
/// system has none, this layer's own text for the numbers that reach the user
/// (a time-out, a refused or broken connection, a name not found, a bad URL);
/// the code alone when neither has a text. Always one line: the line breaks
/// of a system text become blanks.
std::string InternetErrorText(DWORD code);
/// The status callback of every request: pumps the application's messages
/// once, then hands the status to the THttp_Socket named by the context.
void HttpStatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                        LPVOID lpvStatusInformation, DWORD dwStatusInformationLength);
