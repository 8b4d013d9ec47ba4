// THttp_Socket on the platform's own HTTP service (wininet.dll on Windows,
// libcurl elsewhere), the same cases on each, against http-peer, a Linux
// HTTP server on loopback that ctest starts beside the test (LOADER_HTTP_PEER
// names the file in which it wrote its ADDRESS:PORT, and on a second line
// that of a port which answers no connection request). The peer echoes what
// it received, so the request is read back from the response body.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "http/sslu.h"
#include "runtime/Application.h"
#include "runtime/Exception.h"
#include "tests/http/Fetch.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TPeer {
    std::string address;
    int port = 0;
    int unansweredPort = 0;
};

TPeer Peer() {
    const char* file = std::getenv("LOADER_HTTP_PEER");
    std::ifstream ready(file != nullptr ? file : "");
    std::string line, unanswered;
    std::getline(ready, line);
    std::getline(ready, unanswered);
    const auto colon = line.find(':');
    const auto otherColon = unanswered.find(':');
    if (colon == std::string::npos || otherColon == std::string::npos)
        return {};
    return {line.substr(0, colon), std::atoi(line.c_str() + colon + 1),
            std::atoi(unanswered.c_str() + otherColon + 1)};
}

/// The value of the header line name in an echoed request (letter case of
/// the name ignored); none when it is absent.
std::optional<std::string> EchoedHeader(const std::string& echo, const std::string& name) {
    const auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    const std::string head = lower(echo.substr(0, echo.find("\r\n\r\n")));
    const std::string key = "\r\n" + lower(name) + ": ";
    const auto at = head.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const auto start = at + key.size();
    return echo.substr(start, echo.find("\r\n", start) - start);
}

class HttpPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetApplicationTitle("Tessik TFTP Loader");
        SetPumpMessagesHook(nullptr);
        peer = Peer();
        ASSERT_NE(peer.port, 0) << "http-peer is not running (LOADER_HTTP_PEER)";
    }
    void TearDown() override { SetPumpMessagesHook(nullptr); }

    /// Set up as the device conversation does, for a path on the peer.
    void PrepareFetch(THttp_Socket& s, const std::string& path) const {
        ::PrepareFetch(s, "http://" + peer.address + path, peer.port);
    }

    /// Whether the peer has received a request for target.
    bool PeerSaw(const std::string& target) const {
        THttp_Socket s;
        PrepareFetch(s, "/log");
        s.Execute();
        return (("\n" + s.Response.Text()).find("\n" + target + "\n")) != std::string::npos;
    }

    TPeer peer;
};

TEST_F(HttpPeerTest, SendsTheDeviceConversationRequest) {
    int pumps = 0;
    SetPumpMessagesHook([&] { ++pumps; });
    THttp_Socket s;
    PrepareFetch(s, "/index2.htm?tftpp=69");
    s.Execute();

    const std::string echo = s.Response.Text();
    EXPECT_EQ(echo.substr(0, echo.find("\r\n")), "GET /index2.htm?tftpp=69");
    EXPECT_EQ(EchoedHeader(echo, "User-Agent"), "Tessik TFTP Loader");
    EXPECT_EQ(EchoedHeader(echo, "Content-Length"), "0");
    EXPECT_EQ(EchoedHeader(echo, "Pragma"), "no-cache");
#ifndef _WIN32
    // The stand-in on libcurl sends what wininet's cache flags stand for.
    EXPECT_EQ(EchoedHeader(echo, "Cache-Control"), "no-cache");
#endif
    EXPECT_EQ(EchoedHeader(echo, "Connection"), "Keep-Alive");
    EXPECT_EQ(EchoedHeader(echo, "Range"), std::nullopt);
    EXPECT_EQ(EchoedHeader(echo, "Referer"), std::nullopt);
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "");

    EXPECT_EQ(s.StatusCode, 200);
    EXPECT_EQ(s.SetCookie, "");
    EXPECT_EQ(s.RootHandle, nullptr);
    EXPECT_EQ(s.ConnectHandle, nullptr);
    EXPECT_EQ(s.RequestHandle, nullptr);
    // The service reports each step of the request; every report pumps.
    EXPECT_GT(pumps, 0);
}

TEST_F(HttpPeerTest, SendsPostDataLinesJoinedByCrLf) {
    THttp_Socket s;
    PrepareFetch(s, "/form");
    s.Verb = 1;
    s.PostData = {"abc", "def"};
    s.Referrer = "http://" + peer.address + "/";
    s.Execute();
    const std::string echo = s.Response.Text();
    EXPECT_EQ(echo.substr(0, echo.find("\r\n")), "POST /form");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "abc\r\ndef");
    EXPECT_EQ(EchoedHeader(echo, "Content-Length"), "8");
    EXPECT_EQ(EchoedHeader(echo, "Referer"), s.Referrer);
}

TEST_F(HttpPeerTest, RangeHeaderForms) {
    // The peer answers a range with that part of its answer; its
    // Content-Range shows the range that arrived.
    struct Row {
        std::int32_t start, end;
        const char* contentRange; // nullptr: a whole answer
    } rows[] = {
        {100, -1, "bytes 100-"}, {100, 199, "bytes 100-199/"},
        {0, 0, "bytes 0-0/"},    {-1, 199, nullptr},
        {-1, -1, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.start << " " << r.end);
        THttp_Socket s;
        PrepareFetch(s, "/range");
        s.RangeStart = r.start;
        s.RangeEnd = r.end;
        s.Execute();
        const auto at = s.RawHeaders.find("\r\nContent-Range: ");
        if (r.contentRange == nullptr) {
            EXPECT_EQ(s.StatusCode, 200);
            EXPECT_EQ(at, std::string::npos) << s.RawHeaders;
        } else {
            EXPECT_EQ(s.StatusCode, 206);
            ASSERT_NE(at, std::string::npos) << s.RawHeaders;
            EXPECT_EQ(s.RawHeaders.compare(at + 17, std::strlen(r.contentRange), r.contentRange), 0)
                << s.RawHeaders;
        }
    }
}

TEST_F(HttpPeerTest, ResponseStatusHeadersCookieAndBody) {
    std::string large(300 * 1024, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 % 251);
    struct Row {
        const char* path;
        std::uint8_t verb;
        bool follow;
        int status;
        std::string body;
        const char* setCookie;
        const char* inHeaders; // a line the header block must hold, or nullptr
    } rows[] = {
        {"/none", 0, true, 204, "", "", nullptr},
        {"/page", 2, true, 200, "", "", nullptr},
        {"/cookies", 0, true, 200, "x", "session=1; Path=/", "\r\nSet-Cookie: theme=dark\r\n"},
        // A header block beyond the 2024-byte query buffer is kept whole.
        {"/long", 0, true, 200, "x", "", nullptr},
        {"/large", 0, true, 200, large, "", nullptr},
        {"/old", 0, true, 200, "arrived", "", nullptr},
        {"/old", 0, false, 302, "", "", "\r\nLocation: /new\r\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.path << " follow " << r.follow);
        THttp_Socket s;
        PrepareFetch(s, r.path);
        s.Verb = r.verb;
        s.FollowRedirects = r.follow;
        s.Execute();
        EXPECT_EQ(s.StatusCode, r.status);
        EXPECT_TRUE(s.Response.Text() == r.body) << "got " << s.Response.Size() << " bytes";
        EXPECT_EQ(s.SetCookie, r.setCookie);
        const std::string& h = s.RawHeaders;
        EXPECT_EQ(h.rfind("HTTP/1.1 " + std::to_string(r.status) + " ", 0), 0u) << h;
        EXPECT_EQ(h.substr(h.size() - 4), "\r\n\r\n");
        if (r.inHeaders != nullptr) {
            EXPECT_NE(h.find(r.inHeaders), std::string::npos) << h;
        }
        if (std::string(r.path) == "/long") {
            EXPECT_NE(h.find("\r\nX-Long: " + std::string(3000, 'v') + "\r\n"), std::string::npos);
        }
    }
}

TEST_F(HttpPeerTest, ServerTextsAreReadAsEverywhereElse) {
    // The service itself would read zero-padded groups as octal (062 is 50),
    // take ":port" into the name, and read "127.62" as 127.0.0.62.
    const std::string port = std::to_string(peer.port);
    struct Row {
        std::string host;
        bool reached;
    } rows[] = {
        {peer.address + ":" + port, true},
        {"127.000.000.062:" + port, true},
        {"127. 0 .0  .62 :" + port, true},
        {"127.62:" + port, false},
    };
    ASSERT_EQ(peer.address, "127.0.0.62");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.host);
        const std::string path = "/server-text-" + std::to_string(i);
        THttp_Socket s;
        PrepareFetch(s, path);
        s.Host = r.host;
        s.ServerPort = 0;
        const std::string failure = FailureOf(s);
        EXPECT_EQ(failure.empty(), r.reached) << failure;
        EXPECT_EQ(PeerSaw(path), r.reached);
        if (r.reached) {
            EXPECT_EQ(EchoedHeader(s.Response.Text(), "Host"), "127.0.0.62:" + port);
        }
    }
}

TEST_F(HttpPeerTest, SendFailures) {
    const std::string refused =
        "Send request failed with error " + InternetErrorText(ERROR_INTERNET_CANNOT_CONNECT);
    struct Row {
        const char* name;
        std::string host;
        std::uint8_t verb;
        std::initializer_list<std::string> headers;
        std::string path;
    } rows[] = {
        {"nothing listens", "127.0.0.76", 0, {}, "/closed"},
        // The two below never reach the peer; each service has its own number.
        {"Content-Length twice", peer.address, 0, {"X-Unit: 1", "content-length: 5"}, "/twice"},
        {"verb outside the table", peer.address, 3, {}, "/verb"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        THttp_Socket s;
        PrepareFetch(s, r.path);
        s.Host = r.host;
        s.Verb = r.verb;
        s.RequestHeaders = r.headers;
        const auto start = Clock::now();
        const std::string failure = FailureOf(s);
        EXPECT_LT(Clock::now() - start, 5s);
        EXPECT_EQ(failure.rfind("Send request failed with error ", 0), 0u) << failure;
        if (r.host != peer.address) {
            EXPECT_EQ(failure, refused);
        } else {
            EXPECT_FALSE(PeerSaw(r.path));
        }
    }
}

TEST_F(HttpPeerTest, TimeLimitEndsTheRequestAtWhicheverStep) {
    // The service bounds no whole request, and under Wine neither a closed
    // handle nor its own time-outs end a connect or a read that bytes keep
    // alive: the limit must end each all the same.
    struct Row {
        const char* name;
        std::string host;
        int port;
        std::string path;
        std::chrono::milliseconds limit;
        std::string message; // "": the page arrives; %d: the limit
    } rows[] = {
        {"accepts, never answers", peer.address, peer.port, "/silent", 200ms, TimedOut},
        {"head at once, then drips the body", peer.address, peer.port, "/drip", 1200ms, TimedOut},
        {"connect gets no answer", peer.address, peer.unansweredPort, "/", 500ms, TimedOut},
        {"fast, under a limit", peer.address, peer.port, "/page", 2000ms, ""},
        {"nothing listens, under a limit", "127.0.0.76", peer.port, "/", 3000ms,
         "Send request failed with error " + InternetErrorText(ERROR_INTERNET_CANNOT_CONNECT)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        int pumps = 0;
        SetPumpMessagesHook([&] { ++pumps; });
        THttp_Socket s;
        PrepareFetch(s, r.path);
        s.Host = r.host;
        s.ServerPort = static_cast<std::uint16_t>(r.port);
        ExpectRunUnderTimeLimit(s, r.limit, r.message);
        if (r.message.empty()) {
            EXPECT_EQ(s.Response.Text(), "<p>g_HwId = \"171\"</p>");
        } else if (r.message == TimedOut) {
            // The application's messages were pumped while the request waited.
            EXPECT_GE(pumps, static_cast<int>(r.limit / 100ms));
        }
    }
}

TEST_F(HttpPeerTest, ProxiesOfTheEnvironmentAreNeverUsed) {
    // The service reads the proxies of the environment that the program
    // started with, so ctest runs this case in a program of its own
    // (http_tests_proxied) whose environment names a proxy at
    // LOADER_TEST_PROXY, where nothing listens: a request sent there fails.
    const char* proxy = std::getenv("LOADER_TEST_PROXY");
    if (proxy == nullptr)
        GTEST_SKIP() << "runs in http_tests_proxied";
    for (const char* name : {"http_proxy", "all_proxy"}) {
        const char* value = std::getenv(name);
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(std::string(value), "http://" + std::string(proxy)) << name;
    }
    THttp_Socket s;
    PrepareFetch(s, "/unproxied");
    EXPECT_EQ(FailureOf(s), "");
    const std::string echo = s.Response.Text();
    EXPECT_EQ(echo.substr(0, echo.find("\r\n")), "GET /unproxied");
}

TEST_F(HttpPeerTest, PumpFailureIsRaisedAfterTheServiceCallAndTheDestructorReleases) {
    if (ServicePassesCallbackExceptions())
        GTEST_SKIP() << "the service passes the pump's failure on at once (sslu_test.cpp)";
    struct Cancelled {};
    int pumps = 0;
    SetPumpMessagesHook([&] {
        ++pumps;
        throw Cancelled{};
    });
    ExpectFailedRunReleasesHandles<Cancelled>("http://" + peer.address + "/cancelled", peer.port);
    SetPumpMessagesHook(nullptr);
    // Nothing more was handled inside the request once the pump had failed.
    EXPECT_EQ(pumps, 1);
    EXPECT_FALSE(PeerSaw("/cancelled"));
}

} // namespace
