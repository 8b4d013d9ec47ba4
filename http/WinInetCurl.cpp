// The HTTP service of WinInet.h, written on libcurl's multi interface: handles,
// request headers, the transfer loop with its status beats, the response's
// header queries and body reads, and the mapping of libcurl's failures onto
// the service's error numbers. This is the only file that sees libcurl; no
// request-object logic belongs here, and text rules that need no libcurl
// live in HttpText.h.
#include "http/WinInet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "http/HttpText.h"
#include "runtime/Convert.h"
#include "runtime/Format.h"

namespace {

// The unit reboots while it is polled: every request must end by itself, and a
// host that is down must not hold the window for long.
constexpr long ConnectTimeoutMs = 5000;
constexpr long StallSeconds = 15; // no byte moved for this long: timed out
constexpr long RequestTimeoutMs = 60000;
// The status callback pumps the window's messages; this keeps it responsive.
constexpr int BeatMs = 50;
constexpr long MaxRedirects = 10;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;

thread_local DWORD lastError = ERROR_SUCCESS;
/// What failed inside the service, in the words of the failure itself, for
/// the text of lastError; empty when the code says all.
thread_local std::string lastErrorDetail;

bool Fail(DWORD code) noexcept {
    lastError = code;
    lastErrorDetail.clear();
    return false;
}

/// Fail with the text of the exception being handled kept for the error's
/// text, so that an internal error still says what went wrong.
bool FailWithCurrentException(DWORD code) noexcept {
    Fail(code);
    try {
        throw;
    } catch (const std::exception& e) {
        try {
            lastErrorDetail = e.what();
        } catch (...) {
            // No room even for the text: the code alone must do.
        }
    } catch (...) {
    }
    return false;
}

void EnsureCurl() {
    struct Global {
        Global() { curl_global_init(CURL_GLOBAL_DEFAULT); }
        ~Global() { curl_global_cleanup(); }
    };
    static Global global;
}

struct MultiDeleter {
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, ListDeleter>;

enum class Kind { root, connect, request };

struct Handle {
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    const Kind kind;
    INTERNET_STATUS_CALLBACK callback = nullptr;
    DWORD_PTR context = 0;
    bool closed = false;
};

// The root owns the multi handle, and with it the kept-alive connections that
// its requests share.
struct Root : Handle {
    Root() : Handle(Kind::root) {}
    std::string agent;
    DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
    std::unique_ptr<CURLM, MultiDeleter> multi;
};

struct Connect : Handle {
    Connect() : Handle(Kind::connect) {}
    std::shared_ptr<Root> root;
    std::string server, user, password;
    INTERNET_PORT port = 0;
};

struct Request : Handle {
    Request() : Handle(Kind::request) {}
    ~Request() override { Detach(); }
    void Detach() noexcept {
        if (attached)
            curl_multi_remove_handle(root->multi.get(), easy.get());
        attached = false;
    }

    std::shared_ptr<Root> root; // declared first: the multi outlives the easy handle
    std::shared_ptr<Connect> connect;
    std::string verb, path, referrer;
    bool http10 = false;
    DWORD flags = 0;
    DWORD timeLimitMs = 0;            // 0: RequestTimeoutMs
    std::vector<std::string> headers; // "Name: value"

    CurlList headerList, resolveList;
    std::unique_ptr<CURL, EasyDeleter> easy;
    bool attached = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    long osErrno = 0;
    /// What a callback of the transfer failed with, which ended it.
    std::string callbackFailure;

    std::vector<std::string> block; // lines of the header block being received
    std::vector<std::string> head;  // lines of the final response's header block
    bool headFinal = false;
    std::string body;
    std::size_t bodyPos = 0;
};

std::mutex registryMutex;
std::unordered_map<const void*, std::shared_ptr<Handle>>& Registry() {
    static std::unordered_map<const void*, std::shared_ptr<Handle>> registry;
    return registry;
}

HINTERNET Register(const std::shared_ptr<Handle>& handle) {
    std::lock_guard lock(registryMutex);
    Registry().emplace(handle.get(), handle);
    return handle.get();
}

std::shared_ptr<Handle> Unregister(HINTERNET handle) noexcept {
    std::lock_guard lock(registryMutex);
    auto it = Registry().find(handle);
    if (it == Registry().end())
        return nullptr;
    auto found = std::move(it->second);
    Registry().erase(it);
    return found;
}

std::shared_ptr<Handle> Lookup(HINTERNET handle) noexcept {
    std::lock_guard lock(registryMutex);
    auto it = Registry().find(handle);
    if (it == Registry().end()) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

template <class T> std::shared_ptr<T> Find(HINTERNET handle, Kind kind) noexcept {
    std::shared_ptr<Handle> found = Lookup(handle);
    if (found && found->kind != kind) {
        Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(found);
}

std::mutex answersMutex;
std::map<std::string, std::string>& NameAnswers() {
    static std::map<std::string, std::string> answers;
    return answers;
}

std::optional<std::string> NameAnswer(const std::string& name) {
    std::lock_guard lock(answersMutex);
    auto it = NameAnswers().find(UpperCase(name));
    if (it == NameAnswers().end())
        return std::nullopt;
    return it->second;
}

// libcurl's failure as the service's error number, the one place where they meet.
DWORD ErrorOf(CURLcode code, long osErrno) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return osErrno == ECONNRESET ? ERROR_INTERNET_CONNECTION_RESET
                                     : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return ERROR_INTERNET_SECURE_FAILURE;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

/// The error of a transfer that libcurl ended, with what a callback of ours
/// failed with when that ended it.
bool FailOfTransfer(const Request& r) noexcept {
    Fail(ErrorOf(r.result, r.osErrno));
    try {
        lastErrorDetail = r.callbackFailure;
    } catch (...) {
    }
    return false;
}

// Adds "Name: value" lines separated by CR LF; the error of the last line
// refused, or ERROR_SUCCESS.
DWORD AddHeaderLines(Request& r, std::string_view text, bool onlyIfNew) {
    DWORD error = ERROR_SUCCESS;
    for (const auto& field : ParseHeaderText(text)) {
        if (!field)
            error = ERROR_HTTP_INVALID_HEADER;
        else if (onlyIfNew && HasHeader(r.headers, field->name))
            error = ERROR_HTTP_HEADER_ALREADY_EXISTS;
        else
            r.headers.push_back(field->name + ": " + field->value);
    }
    return error;
}

// Whether a complete header block is the final response's: not an interim
// 1xx, nor a redirect that libcurl is about to follow.
bool IsFinal(const Request& r) {
    const int status = StatusOf(r.block);
    if (status >= 100 && status < 200)
        return false;
    const bool follow = (r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    return !(follow && IsRedirectStatus(status) && HeaderValue(r.block, "Location", 0));
}

void TakeHead(Request& r) {
    r.head = r.block;
    r.headFinal = true;
}

// libcurl callbacks: they only record; nothing may throw across them.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& r = *static_cast<Request*>(user);
    const std::size_t length = size * count;
    try {
        if (r.headFinal) // trailers of a chunked body
            return length;
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.substr(0, 5) == "HTTP/") {
            r.block.assign(1, std::string(line));
        } else if (line.empty()) {
            if (IsFinal(r))
                TakeHead(r);
        } else {
            r.block.emplace_back(line);
        }
        return length;
    } catch (const std::exception& e) {
        r.callbackFailure = e.what();
        return 0;
    } catch (...) {
        return 0;
    }
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& r = *static_cast<Request*>(user);
    try {
        // libcurl passes no body of a redirect it follows: this block is final.
        if (!r.headFinal)
            TakeHead(r);
        r.body.append(data, size * count);
        return size * count;
    } catch (const std::exception& e) {
        r.callbackFailure = e.what();
        return 0;
    } catch (...) {
        return 0;
    }
}

class Options {
public:
    explicit Options(CURL* easy) : easy_(easy) {}
    template <class T> Options& Set(CURLoption option, T value) {
        if (result_ == CURLE_OK)
            result_ = curl_easy_setopt(easy_, option, value);
        return *this;
    }
    CURLcode Result() const { return result_; }

private:
    CURL* easy_;
    CURLcode result_ = CURLE_OK;
};

void AddLine(CurlList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr)
        throw std::bad_alloc();
    list.release();
    list.reset(grown);
}

// The header lines that go out: the agent, the referrer, the caller's lines,
// and what the flags ask for; and libcurl's own extras that the service does
// not send switched off.
CurlList HeaderLines(const Request& r, bool withBody) {
    CurlList list;
    std::vector<std::string> lines;
    if (!r.root->agent.empty() && !HasHeader(r.headers, "User-Agent"))
        lines.push_back("User-Agent: " + r.root->agent);
    if (!r.referrer.empty() && !HasHeader(r.headers, "Referer"))
        lines.push_back("Referer: " + r.referrer);
    lines.insert(lines.end(), r.headers.begin(), r.headers.end());
    if ((r.flags & (INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE)) != 0) {
        if (!HasHeader(r.headers, "Pragma"))
            lines.push_back("Pragma: no-cache");
        if (!HasHeader(r.headers, "Cache-Control"))
            lines.push_back("Cache-Control: no-cache");
    }
    if ((r.flags & INTERNET_FLAG_KEEP_CONNECTION) != 0 && !HasHeader(r.headers, "Connection"))
        lines.push_back("Connection: Keep-Alive");
    for (const char* name : {"Accept", "Expect"})
        if (!HasHeader(r.headers, name))
            lines.push_back(std::string(name) + ":"); // libcurl's default goes
    if (withBody && !HasHeader(r.headers, "Content-Type"))
        lines.push_back("Content-Type:");
    for (const std::string& line : lines)
        AddLine(list, line);
    return list;
}

// Sets up a fresh transfer for the request; the service's error number when
// the request cannot be made.
DWORD Prepare(Request& r, const void* body, DWORD bodyLength) {
    const Connect& c = *r.connect;
    const auto server = ParseServer(c.server);
    if (!server)
        return ERROR_INTERNET_INVALID_URL;
    if (HasControl(r.root->agent) || HasControl(r.referrer))
        return ERROR_INVALID_PARAMETER;
    const bool secure = (r.flags & INTERNET_FLAG_SECURE) != 0;
    const INTERNET_PORT port = server->port  ? *server->port
                               : c.port != 0 ? c.port
                               : secure      ? INTERNET_DEFAULT_HTTPS_PORT
                                             : INTERNET_DEFAULT_HTTP_PORT;
    r.resolveList.reset();
    if (const auto answer = NameAnswer(server->name)) {
        if (answer->empty())
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        AddLine(r.resolveList, Format("%s:%d:%s", server->name, int{port}, *answer));
    }

    r.easy.reset(curl_easy_init());
    if (!r.easy)
        return ERROR_INTERNET_INTERNAL_ERROR;
    const bool withBody = body != nullptr && bodyLength != 0;
    r.headerList = HeaderLines(r, withBody || r.verb == "POST");
    const std::string url = Format("%s://%s:%d%s", secure ? "https" : "http", server->urlHost,
                                   int{port}, UrlPath(r.path));
    Options o(r.easy.get());
    o.Set(CURLOPT_URL, url.c_str())
        .Set(CURLOPT_PROTOCOLS_STR, "http,https")
        .Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https")
        .Set(CURLOPT_FOLLOWLOCATION, (r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) ? 0L : 1L)
        .Set(CURLOPT_MAXREDIRS, MaxRedirects)
        // Keep the method and body on every redirect: the Content-Length line
        // that the caller added stays true only with the body.
        .Set(CURLOPT_POSTREDIR, long{CURL_REDIR_POST_ALL})
        .Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs)
        // The connect ends by the shorter one of its own bound and this one.
        .Set(CURLOPT_TIMEOUT_MS, r.timeLimitMs != 0
                                     ? std::min(static_cast<long>(r.timeLimitMs), RequestTimeoutMs)
                                     : RequestTimeoutMs)
        .Set(CURLOPT_LOW_SPEED_LIMIT, 1L)
        .Set(CURLOPT_LOW_SPEED_TIME, StallSeconds)
        .Set(CURLOPT_PATH_AS_IS, 1L)
        .Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)
        .Set(CURLOPT_HTTP_VERSION,
             r.http10 ? long{CURL_HTTP_VERSION_1_0} : long{CURL_HTTP_VERSION_1_1})
        .Set(CURLOPT_HEADERFUNCTION, OnHeader)
        .Set(CURLOPT_HEADERDATA, static_cast<void*>(&r))
        .Set(CURLOPT_WRITEFUNCTION, OnBody)
        .Set(CURLOPT_WRITEDATA, static_cast<void*>(&r))
        .Set(CURLOPT_PRIVATE, static_cast<void*>(&r))
        .Set(CURLOPT_HTTPHEADER, r.headerList.get())
        .Set(CURLOPT_FORBID_REUSE, (r.flags & INTERNET_FLAG_KEEP_CONNECTION) ? 0L : 1L);
    if (r.resolveList)
        o.Set(CURLOPT_RESOLVE, r.resolveList.get());
    if (r.root->access == INTERNET_OPEN_TYPE_DIRECT)
        o.Set(CURLOPT_NOPROXY, "*");
    if (!c.user.empty() || !c.password.empty())
        o.Set(CURLOPT_USERNAME, c.user.c_str())
            .Set(CURLOPT_PASSWORD, c.password.c_str())
            .Set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
    if (r.verb == "HEAD") {
        o.Set(CURLOPT_NOBODY, 1L);
    } else if (withBody || r.verb == "POST") {
        o.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(withBody ? bodyLength : 0))
            .Set(CURLOPT_COPYPOSTFIELDS, withBody ? static_cast<const char*>(body) : "");
        if (r.verb != "POST")
            o.Set(CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    } else if (r.verb == "GET") {
        o.Set(CURLOPT_HTTPGET, 1L);
    } else {
        o.Set(CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    }
    if (o.Result() != CURLE_OK)
        return ErrorOf(o.Result(), 0);
    if (curl_multi_add_handle(r.root->multi.get(), r.easy.get()) != CURLM_OK)
        return ERROR_INTERNET_INTERNAL_ERROR;
    r.attached = true;
    return ERROR_SUCCESS;
}

void Notify(HINTERNET handle, const Request& r, DWORD status, void* information = nullptr,
            DWORD length = 0) {
    if (r.callback != nullptr)
        r.callback(handle, r.context, status, information, length);
}

// Marks the finished transfers of a root as done, with their result.
void CollectDone(CURLM* multi) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char* user = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &user);
        auto* done = reinterpret_cast<Request*>(user);
        if (done == nullptr)
            continue;
        done->done = true;
        done->result = message->data.result;
        curl_easy_getinfo(message->easy_handle, CURLINFO_OS_ERRNO, &done->osErrno);
        if (done->result == CURLE_OK && !done->headFinal)
            TakeHead(*done);
    }
}

// Runs the root's transfers until ready() holds or the request has ended,
// calling the status callback at least every BeatMs meanwhile. What the
// callback throws leaves here; the transfer stays with the handle.
template <class Ready> void Drive(HINTERNET handle, Request& r, Ready ready) {
    CURLM* multi = r.root->multi.get();
    while (!ready() && !r.done && !r.closed) {
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi, &running);
        CollectDone(multi);
        if (performed != CURLM_OK && !r.done) {
            r.done = true;
            r.result = CURLE_FAILED_INIT;
        }
        if (ready() || r.done)
            break;
        curl_multi_poll(multi, nullptr, 0, BeatMs, nullptr);
        curl_off_t connected = 0;
        curl_easy_getinfo(r.easy.get(), CURLINFO_CONNECT_TIME_T, &connected);
        Notify(handle, r,
               connected > 0 ? INTERNET_STATUS_RECEIVING_RESPONSE
                             : INTERNET_STATUS_CONNECTING_TO_SERVER);
    }
}

// After a wait for body bytes: what is at hand, or the failure that ended the
// transfer.
bool BodyState(const Request& r, DWORD& unread) {
    unread = static_cast<DWORD>(std::min<std::size_t>(r.body.size() - r.bodyPos, UINT32_MAX));
    if (unread != 0)
        return true;
    if (r.closed)
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (r.done && r.result != CURLE_OK)
        return FailOfTransfer(r);
    return true;
}

const std::map<DWORD, std::string_view> SystemTexts = {
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
};

bool PutText(const std::string& text, void* buffer, DWORD* length) {
    if (buffer == nullptr || *length < text.size() + 1) {
        *length = static_cast<DWORD>(text.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<DWORD>(text.size());
    return true;
}

} // namespace

HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* /*lpszProxy*/,
                        const char* /*lpszProxyBypass*/, DWORD dwFlags) noexcept {
    if ((dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG &&
         dwAccessType != INTERNET_OPEN_TYPE_DIRECT) ||
        dwFlags != 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        EnsureCurl();
        auto root = std::make_shared<Root>();
        root->agent = lpszAgent != nullptr ? lpszAgent : "";
        root->access = dwAccessType;
        root->multi.reset(curl_multi_init());
        if (!root->multi) {
            Fail(ERROR_INTERNET_INTERNAL_ERROR);
            return nullptr;
        }
        return Register(root);
    } catch (...) {
        FailWithCurrentException(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
}

HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName,
                           INTERNET_PORT nServerPort, const char* lpszUserName,
                           const char* lpszPassword, DWORD dwService, DWORD /*dwFlags*/,
                           DWORD_PTR dwContext) noexcept {
    auto root = Find<Root>(hInternet, Kind::root);
    if (!root)
        return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto connect = std::make_shared<Connect>();
        connect->root = root;
        connect->server = lpszServerName != nullptr ? lpszServerName : "";
        connect->port = nServerPort;
        connect->user = lpszUserName != nullptr ? lpszUserName : "";
        connect->password = lpszPassword != nullptr ? lpszPassword : "";
        connect->callback = root->callback;
        connect->context = dwContext;
        return Register(connect);
    } catch (...) {
        FailWithCurrentException(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
}

INTERNET_STATUS_CALLBACK
InternetSetStatusCallback(HINTERNET hInternet,
                          INTERNET_STATUS_CALLBACK lpfnInternetCallback) noexcept {
    const std::shared_ptr<Handle> handle = Lookup(hInternet);
    if (!handle)
        return nullptr;
    return std::exchange(handle->callback, lpfnInternetCallback);
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, const char* lpszVerb, const char* lpszObjectName,
                           const char* lpszVersion, const char* lpszReferrer,
                           const char** /*lplpszAcceptTypes*/, DWORD dwFlags, DWORD_PTR dwContext) {
    auto connect = Find<Connect>(hConnect, Kind::connect);
    if (!connect)
        return nullptr;
    const std::string version = lpszVersion != nullptr ? lpszVersion : "";
    if (lpszVerb == nullptr || *lpszVerb == '\0' || HasControl(lpszVerb) ||
        std::strchr(lpszVerb, ' ') != nullptr ||
        (!version.empty() && version != "HTTP/1.1" && version != "HTTP/1.0")) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto request = std::make_shared<Request>();
    request->root = connect->root;
    request->connect = connect;
    request->verb = lpszVerb;
    request->path = lpszObjectName != nullptr ? lpszObjectName : "";
    request->referrer = lpszReferrer != nullptr ? lpszReferrer : "";
    request->http10 = version == "HTTP/1.0";
    request->flags = dwFlags;
    request->callback = connect->callback;
    request->context = dwContext;
    HINTERNET handle = Register(request);
    INTERNET_ASYNC_RESULT created{reinterpret_cast<DWORD_PTR>(handle), ERROR_SUCCESS};
    try {
        Notify(handle, *request, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
    } catch (...) {
        Unregister(handle); // the caller never sees this handle
        throw;
    }
    return handle;
}

bool HttpAddRequestHeadersA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) noexcept {
    auto request = Find<Request>(hRequest, Kind::request);
    if (!request)
        return false;
    if (lpszHeaders == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string_view text = dwHeadersLength == static_cast<DWORD>(-1)
                                      ? std::string_view(lpszHeaders)
                                      : std::string_view(lpszHeaders, dwHeadersLength);
    try {
        const DWORD error =
            AddHeaderLines(*request, text, (dwModifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) != 0);
        return error == ERROR_SUCCESS || Fail(error);
    } catch (...) {
        return FailWithCurrentException(ERROR_INTERNET_INTERNAL_ERROR);
    }
}

bool HttpSendRequestA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                      const void* lpOptional, DWORD dwOptionalLength) {
    auto request = Find<Request>(hRequest, Kind::request);
    if (!request)
        return false;
    Request& r = *request;
    if (lpszHeaders != nullptr && dwHeadersLength != 0 && *lpszHeaders != '\0')
        return Fail(ERROR_INVALID_PARAMETER);
    // A request sent again starts a new transfer.
    r.Detach();
    r.easy.reset();
    r.done = r.headFinal = false;
    r.result = CURLE_OK;
    r.block.clear();
    r.head.clear();
    r.body.clear();
    r.bodyPos = 0;
    DWORD error = ERROR_SUCCESS;
    try {
        error = Prepare(r, lpOptional, dwOptionalLength);
    } catch (...) {
        return FailWithCurrentException(ERROR_INTERNET_INTERNAL_ERROR);
    }
    if (error != ERROR_SUCCESS)
        return Fail(error);
    Notify(hRequest, r, INTERNET_STATUS_SENDING_REQUEST);
    Drive(hRequest, r, [&] { return r.headFinal; });
    if (r.closed)
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (!r.headFinal)
        return r.result != CURLE_OK ? FailOfTransfer(r) : Fail(ERROR_INTERNET_INTERNAL_ERROR);
    Notify(hRequest, r, INTERNET_STATUS_RESPONSE_RECEIVED);
    return true;
}

bool HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, void* lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex) noexcept {
    auto request = Find<Request>(hRequest, Kind::request);
    if (!request)
        return false;
    if (lpdwBufferLength == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!request->headFinal)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const std::vector<std::string>& head = request->head;
    try {
        switch (dwInfoLevel & ~HTTP_QUERY_FLAG_NUMBER) {
        case HTTP_QUERY_RAW_HEADERS_CRLF: {
            std::string text;
            for (const std::string& line : head)
                text += line + "\r\n";
            return PutText(text + "\r\n", lpBuffer, lpdwBufferLength);
        }
        case HTTP_QUERY_STATUS_CODE: {
            const auto status = static_cast<DWORD>(StatusOf(head));
            if ((dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) == 0)
                return PutText(std::to_string(status), lpBuffer, lpdwBufferLength);
            if (lpBuffer == nullptr || *lpdwBufferLength < sizeof status) {
                *lpdwBufferLength = sizeof status;
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            std::memcpy(lpBuffer, &status, sizeof status);
            *lpdwBufferLength = sizeof status;
            return true;
        }
        case HTTP_QUERY_SET_COOKIE: {
            const DWORD index = lpdwIndex != nullptr ? *lpdwIndex : 0;
            const auto value = HeaderValue(head, "Set-Cookie", index);
            if (!value)
                return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
            if (!PutText(*value, lpBuffer, lpdwBufferLength))
                return false;
            if (lpdwIndex != nullptr)
                ++*lpdwIndex;
            return true;
        }
        default:
            return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        }
    } catch (...) {
        return FailWithCurrentException(ERROR_INTERNET_INTERNAL_ERROR);
    }
}

bool InternetQueryDataAvailable(HINTERNET hFile, DWORD* lpdwNumberOfBytesAvailable,
                                DWORD /*dwFlags*/, DWORD_PTR /*dwContext*/) {
    auto request = Find<Request>(hFile, Kind::request);
    if (!request)
        return false;
    if (lpdwNumberOfBytesAvailable == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesAvailable = 0;
    Request& r = *request;
    if (!r.headFinal)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    Drive(hFile, r, [&] { return r.bodyPos < r.body.size(); });
    return BodyState(r, *lpdwNumberOfBytesAvailable);
}

bool InternetReadFile(HINTERNET hFile, void* lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead) {
    auto request = Find<Request>(hFile, Kind::request);
    if (!request)
        return false;
    if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    Request& r = *request;
    if (!r.headFinal)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (dwNumberOfBytesToRead == 0)
        return true;
    Drive(hFile, r, [&] { return r.bodyPos < r.body.size(); });
    DWORD unread = 0;
    if (!BodyState(r, unread))
        return false;
    const DWORD count = std::min(unread, dwNumberOfBytesToRead);
    std::memcpy(lpBuffer, r.body.data() + r.bodyPos, count);
    r.bodyPos += count;
    if (r.bodyPos == r.body.size()) { // all handed over: the buffer starts afresh
        r.body.clear();
        r.bodyPos = 0;
    }
    *lpdwNumberOfBytesRead = count;
    return true;
}

bool InternetSetTransferTimeLimit(HINTERNET hRequest, DWORD dwMilliseconds) noexcept {
    auto request = Find<Request>(hRequest, Kind::request);
    if (!request)
        return false;
    request->timeLimitMs = dwMilliseconds;
    return true;
}

bool InternetCloseHandle(HINTERNET hInternet) noexcept {
    auto handle = Unregister(hInternet);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    // A blocking call on this handle further up the stack (the callback closed
    // it) sees the flag and ends; the object lives until that call returns.
    handle->closed = true;
    if (handle->kind == Kind::request)
        static_cast<Request&>(*handle).Detach();
    return true;
}

DWORD GetLastError() noexcept {
    return lastError;
}

DWORD FormatMessageA(DWORD dwFlags, const void* /*lpSource*/, DWORD dwMessageId,
                     DWORD /*dwLanguageId*/, char* lpBuffer, DWORD nSize,
                     void* /*Arguments*/) noexcept {
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr)
        return Fail(ERROR_INVALID_PARAMETER), 0;
    const auto it = SystemTexts.find(dwMessageId);
    if (it == SystemTexts.end())
        return Fail(ERROR_MR_MID_NOT_FOUND), 0;
    std::string text;
    try {
        text = it->second;
        if (dwMessageId == lastError && !lastErrorDetail.empty())
            text += " (" + lastErrorDetail + ")";
    } catch (...) {
        return Fail(ERROR_INTERNET_INTERNAL_ERROR), 0;
    }
    if (nSize <= text.size())
        return Fail(ERROR_INSUFFICIENT_BUFFER), 0;
    std::memcpy(lpBuffer, text.data(), text.size());
    lpBuffer[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}

void InternetSetNameAnswerForTesting(const std::string& name, const std::string& address) {
    std::lock_guard lock(answersMutex);
    NameAnswers()[UpperCase(name)] = address;
}

void InternetClearNameAnswersForTesting() {
    std::lock_guard lock(answersMutex);
    NameAnswers().clear();
}
