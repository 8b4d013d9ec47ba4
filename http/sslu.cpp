// The request object's logic on top of the HTTP service: which calls it makes,
// with which flags and headers, and how it reads the response back. Wire
// details (sockets, libcurl, time-outs) belong to the service, not here.
#include "http/sslu.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "http/HttpText.h"
#include "runtime/Application.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

constexpr std::array<const char*, 3> VerbTexts = {"GET", "POST", "HEAD"};
constexpr std::uint8_t HeadVerb = 2;

// Always: from the server, not cached, keep-alive, and no proxy cache either.
constexpr DWORD AlwaysFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                              INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD UnattendedFlags = INTERNET_FLAG_FORMS_SUBMIT | INTERNET_FLAG_NO_UI |
                                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
static_assert(AlwaysFlags == 0x84400100 && UnattendedFlags == 0x0000C240);

constexpr DWORD ChunkSize = 16384;
constexpr DWORD RawHeadersBufferSize = 2024;
constexpr DWORD SetCookieBufferSize = 16384;
constexpr DWORD ErrorTextBufferSize = 255;
// How far before the deadline a service's own clock may end a step.
constexpr auto ServiceClockSlack = std::chrono::milliseconds(10);

// The texts of the service's numbers that reach the user, for a platform
// that has none of its own (the libcurl stand-in; wininet.dll has its own).
const std::map<DWORD, std::string_view> OwnErrorTexts = {
    {ERROR_INTERNET_TIMEOUT, "The operation timed out."},
    {ERROR_INTERNET_INVALID_URL, "The URL is invalid"},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME,
     "The URL scheme could not be recognized or is not supported."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name could not be resolved."},
    {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established."},
    {ERROR_INTERNET_CONNECTION_ABORTED,
     "The connection with the server was terminated abnormally."},
    {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "An error occurred in the secure channel support."},
};

// The text as one line: a system text ends in CR LF and may span several
// lines, but a reason reaches the user as one line of a log or of stderr.
std::string OneLine(std::string_view text) {
    std::string line;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        const std::string part = Trim(text.substr(start, end - start));
        if (!part.empty())
            line += (line.empty() ? "" : " ") + part;
        start = end + 1;
    }
    return line;
}

std::function<void()>& PumpHook() {
    static std::function<void()> pump;
    return pump;
}

// Pumps the application's messages once, while a service call waits.
void PumpOnce() {
    // A copy: the pump may replace the hook while it runs.
    if (const std::function<void()> pump = PumpHook())
        pump();
}

TServiceDeadline DeadlineAfter(std::chrono::milliseconds limit) {
    const auto now = std::chrono::steady_clock::now();
    const auto room =
        std::chrono::duration_cast<std::chrono::milliseconds>(TServiceDeadline::max() - now);
    if (limit <= std::chrono::milliseconds::zero() || limit >= room)
        return TServiceDeadline::max();
    return now + limit;
}

// The objects alive now, so that the status callback can tell whether a
// context really names one before it touches it.
std::mutex liveMutex;
std::set<const THttp_Socket*>& LiveObjects() {
    static std::set<const THttp_Socket*> live;
    return live;
}

bool IsLive(const THttp_Socket* object) {
    std::lock_guard lock(liveMutex);
    return LiveObjects().count(object) != 0;
}

void CloseInternetHandle(HINTERNET& handle) noexcept {
    if (handle != nullptr)
        InternetCloseHandle(handle);
    handle = nullptr;
}

} // namespace

void SetPumpMessagesHook(std::function<void()> pump) {
    PumpHook() = std::move(pump);
}

THttp_Socket::THttp_Socket() {
    std::lock_guard lock(liveMutex);
    LiveObjects().insert(this);
}

THttp_Socket::~THttp_Socket() {
    CloseHandles();
    std::lock_guard lock(liveMutex);
    LiveObjects().erase(this);
}

void THttp_Socket::Execute() {
    OpenConnection(); // a failure to connect surfaces at the send step
    OpenRequest();
    if (!SendRequest()) {
        const DWORD code = GetLastError();
        ReportError(FailureText("Send request failed with error ", code), true);
    }
    FillResponseStream();
    CloseHandles();
    RaiseHeldFailure(); // the service may report the closing too
}

bool THttp_Socket::OpenConnection() {
    deadline_ = DeadlineAfter(TimeLimit);
    timedOut_ = false;
    CloseInternetHandle(ConnectHandle);
    // A root left from an earlier run would otherwise be overwritten and leak.
    CloseInternetHandle(RootHandle);
    // The unit is on the local network: no proxy of the environment or of the
    // system's settings may stand between, or the revision and the commands
    // would reach whatever the proxy answers for the address, while the TFTP
    // transfers go to the unit itself.
    RootHandle =
        InternetOpenA(ApplicationTitle().c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const TServiceServer server = ServiceServer(Host, ServerPort);
    ConnectHandle = InternetConnectA(RootHandle, server.name.c_str(), server.port, UserName.c_str(),
                                     Password.c_str(), INTERNET_SERVICE_HTTP, 0,
                                     reinterpret_cast<DWORD_PTR>(this));
    InternetSetStatusCallback(ConnectHandle, HttpStatusCallback);
    if (ConnectHandle == nullptr) {
        CloseInternetHandle(ConnectHandle);
        CloseInternetHandle(RootHandle);
        return false;
    }
    return true;
}

void THttp_Socket::OpenRequest() {
    CloseInternetHandle(RequestHandle);
    DWORD flags = AlwaysFlags;
    if (Secure)
        flags |= INTERNET_FLAG_SECURE;
    if (!FollowRedirects)
        flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (Unattended)
        flags |= UnattendedFlags;
    // A Verb outside the table names no verb: no request is opened, and the
    // send step reports the missing handle, instead of reading past the table
    // or letting a service that takes no verb for "GET" send one.
    if (Verb >= VerbTexts.size())
        return;
    RequestHandle =
        HttpOpenRequestA(ConnectHandle, VerbTexts[Verb], Path.c_str(), "HTTP/1.1", Referrer.c_str(),
                         nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
    RaiseHeldFailure();
    const std::string headers = RequestHeaders.Text();
    if (!headers.empty())
        HttpAddRequestHeadersA(RequestHandle, headers.c_str(), static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    if (RangeStart != -1) {
        std::string range = Format("Range: bytes=%d-", RangeStart);
        if (RangeEnd != -1)
            range += Format("%d", RangeEnd);
        HttpAddRequestHeadersA(RequestHandle, range.c_str(), static_cast<DWORD>(range.size()),
                               HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    }
}

bool THttp_Socket::SendRequest() {
    std::string body = PostData.Text();
    if (!body.empty())
        body.resize(body.size() - 2); // the lines joined by CR LF, no CR LF at the end
    const std::string length = Format("Content-Length: %d", static_cast<std::int64_t>(body.size()));
    if (!HttpAddRequestHeadersA(RequestHandle, length.c_str(), static_cast<DWORD>(length.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW))
        return false;
    const bool sent = ServiceSendRequest(RequestHandle, body, deadline_, PumpOnce);
    RaiseHeldFailure();
    return sent;
}

bool THttp_Socket::FillResponseStream() {
    if (RequestHandle == nullptr)
        throw EInternalError("FillResponseStream: no request handle");

    std::vector<char> buffer(RawHeadersBufferSize, '\0');
    DWORD length = RawHeadersBufferSize;
    DWORD index = 0;
    if (!HttpQueryInfoA(RequestHandle, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length,
                        &index) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // A header block beyond the fixed buffer is kept whole rather than lost.
        buffer.assign(length, '\0');
        index = 0;
        HttpQueryInfoA(RequestHandle, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, &index);
    }
    RawHeaders.assign(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));

    length = sizeof StatusCode;
    index = 0;
    HttpQueryInfoA(RequestHandle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &StatusCode,
                   &length, &index);

    SetCookie.clear();
    buffer.assign(SetCookieBufferSize, '\0');
    length = SetCookieBufferSize;
    index = 0;
    if (HttpQueryInfoA(RequestHandle, HTTP_QUERY_SET_COOKIE, buffer.data(), &length, &index)) {
        SetCookie.assign(buffer.data(), length);
    } else {
        const DWORD code = GetLastError();
        if (code != ERROR_HTTP_HEADER_NOT_FOUND)
            SetCookie = "Set-Cookie query failed with error " + InternetErrorText(code);
    }

    // A second run must not leave the tail of a longer earlier body behind.
    Response.Clear();
    Response.SetPosition(0);
    if (RawHeaders.empty())
        return true; // no response came: the send step has told why
    // A body that is not whole must never pass for a whole one: the caller
    // would take a page cut short, or the start of an endless one, for the
    // page.
    const auto fail = [this](const std::string& text) {
        ReportError(text, true);
        return false;
    };
    const auto readFailure = [&](DWORD code) {
        return fail(FailureText("Read response failed with error ", code));
    };
    const auto tooLarge = [&] {
        return fail(Format("Response larger than %d bytes", ResponseLimit));
    };
    const bool bodiless = Verb == HeadVerb || StatusCode == 204 || StatusCode == 304;
    // What the server announced; 0 when it announced nothing that binds.
    const std::uint64_t announced =
        bodiless ? 0 : AnnouncedBodySize(HeaderBlockLines(RawHeaders)).value_or(0);
    const auto limit = static_cast<std::uint64_t>(ResponseLimit);
    if (ResponseLimit >= 0 && announced > limit)
        return tooLarge();
    buffer.assign(ChunkSize, '\0');
    for (;;) {
        DWORD available = 0;
        DWORD read = 0;
        const bool received =
            ServiceQueryDataAvailable(RequestHandle, available, deadline_, PumpOnce) &&
            InternetReadFile(RequestHandle, buffer.data(), std::min(ChunkSize, available), &read);
        const DWORD code = received ? ERROR_SUCCESS : GetLastError();
        RaiseHeldFailure();
        if (!received)
            return readFailure(code);
        if (read == 0)
            break;
        if (ResponseLimit >= 0 && static_cast<std::uint64_t>(Response.Size()) + read > limit)
            return tooLarge();
        Response.Write(buffer.data(), read);
    }
    // A service may take a connection closed early for the end of the body;
    // the length that the server announced says otherwise.
    if (static_cast<std::uint64_t>(Response.Size()) < announced)
        return readFailure(ERROR_INTERNET_CONNECTION_ABORTED);
    return true;
}

void THttp_Socket::CloseHandles() noexcept {
    InternetSetStatusCallback(ConnectHandle, nullptr);
    // A request handle keeps the callback it was created with; without it,
    // no message is handled while the object closes (perhaps in its
    // destructor, while a failure unwinds).
    if (RequestHandle != nullptr)
        InternetSetStatusCallback(RequestHandle, nullptr);
    CloseInternetHandle(ConnectHandle);
    CloseInternetHandle(RequestHandle);
    CloseInternetHandle(RootHandle);
}

void THttp_Socket::ReportError(const std::string& text, bool fatal) {
    if (OnError) {
        OnError(text, fatal);
        return;
    }
    if (fatal)
        throw Exception(text);
}

std::string THttp_Socket::FailureText(const std::string& step, DWORD code) {
    // A step that the time limit ended fails with whatever the service makes
    // of the end (its own time-out, a connection aborted, a call given up):
    // once the deadline has passed, the limit is the reason. A service that
    // reads the bound in whole milliseconds on a clock of its own (libcurl)
    // may end the step a moment before the deadline by this clock.
    if (deadline_ != TServiceDeadline::max() &&
        std::chrono::steady_clock::now() + ServiceClockSlack >= deadline_) {
        timedOut_ = true;
        return Format("Request timed out after %d ms",
                      static_cast<std::int64_t>(TimeLimit.count()));
    }
    return step + InternetErrorText(code);
}

void THttp_Socket::RaiseHeldFailure() {
    if (heldFailure_)
        std::rethrow_exception(std::exchange(heldFailure_, nullptr));
}

void THttp_Socket::StatusChanged(DWORD status, const void* information, DWORD length) {
    // The new handle is pointer-sized: taken whole, not its first 32 bits.
    if (status == INTERNET_STATUS_HANDLE_CREATED && information != nullptr &&
        length >= sizeof(DWORD_PTR)) {
        DWORD_PTR handle = 0;
        std::copy_n(static_cast<const char*>(information), sizeof handle,
                    reinterpret_cast<char*>(&handle));
        RequestHandle = reinterpret_cast<HINTERNET>(handle);
    }
}

std::string StripHttpScheme(const std::string& url) {
    if (UpperCase(url.substr(0, 7)) == "HTTP://")
        return url.substr(7);
    return url;
}

std::string HostOfUrl(const std::string& url) {
    const std::string s = StripHttpScheme(url);
    return s.substr(0, s.find('/'));
}

std::string PathOfUrl(const std::string& url) {
    const std::string s = StripHttpScheme(url);
    const auto slash = s.find('/');
    return slash == std::string::npos ? "/" : s.substr(slash);
}

std::string InternetErrorText(DWORD code) {
    std::array<char, ErrorTextBufferSize> buffer{};
    const DWORD written = ServiceErrorMessage(code, buffer.data(), ErrorTextBufferSize);
    std::string_view description;
    if (written != 0)
        description = std::string_view(buffer.data(), std::min(written, ErrorTextBufferSize));
    else if (const auto own = OwnErrorTexts.find(code); own != OwnErrorTexts.end())
        description = own->second;
    const std::string line = OneLine(description);
    return line.empty() ? std::to_string(code) : std::to_string(code) + " " + line;
}

void HttpStatusCallback(HINTERNET /*hInternet*/, DWORD_PTR dwContext, DWORD dwInternetStatus,
                        LPVOID lpvStatusInformation, DWORD dwStatusInformationLength) {
    auto* object = reinterpret_cast<THttp_Socket*>(dwContext);
    if (object != nullptr && !IsLive(object))
        object = nullptr;
    // A copy: the pump may replace the hook while it runs.
    if (const std::function<void()> pump = PumpHook()) {
        if (ServicePassesCallbackExceptions()) {
            pump();
        } else if (object == nullptr || !object->heldFailure_) {
            // Once a failure is held the request is only running out; nothing
            // more is handled inside it.
            try {
                pump();
            } catch (...) {
                if (object != nullptr)
                    object->heldFailure_ = std::current_exception();
            }
        }
    }
    if (object != nullptr)
        object->StatusChanged(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
}
