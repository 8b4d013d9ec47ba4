// THttp_Socket and the sslu helpers, against a real HTTP server on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "http/sslu.h"
#include "runtime/Application.h"
#include "runtime/Exception.h"
#include "tests/http/Fetch.h"
#include "tests/http/TestServer.h"
#include "tests/support/HttpPeer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class HttpSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        SetApplicationTitle("Tessik TFTP Loader");
        SetPumpMessagesHook(nullptr);
        InternetClearNameAnswersForTesting();
    }
    void TearDown() override { SetPumpMessagesHook(nullptr); }
};

TEST_F(HttpSocketTest, ContentLengthAmongRequestHeadersIsASendFailure) {
    TestServer server("127.0.0.20");
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.20/", server.Port());
    s.RequestHeaders = {"X-Unit: 1", "content-length: 5"};
    EXPECT_EQ(FailureOf(s), "Send request failed with error " + InternetErrorText(12155));

    // With a handler the report goes there, and the run reads an empty response.
    THttp_Socket quiet;
    PrepareFetch(quiet, "http://127.0.0.20/", server.Port());
    quiet.RequestHeaders = {"Content-Length: 5"};
    std::vector<std::pair<std::string, bool>> reports;
    quiet.OnError = [&](const std::string& text, bool fatal) { reports.emplace_back(text, fatal); };
    quiet.Execute();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, "Send request failed with error 12155");
    EXPECT_TRUE(reports[0].second);
    EXPECT_EQ(quiet.StatusCode, 0);
    EXPECT_EQ(quiet.Response.Size(), 0);

    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpSocketTest, LargeBodyArrivesWhole) {
    std::string body(300 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 % 251);
    TestServer server("127.0.0.20", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.20/image.bin", server.Port());
    s.Execute();
    EXPECT_EQ(s.StatusCode, 200);
    EXPECT_TRUE(s.Response.Text() == body) << "got " << s.Response.Size() << " bytes";
}

TEST_F(HttpSocketTest, ResponseWithoutBodyStillSetsStatusCode) {
    TestServer server("127.0.0.20", [](const httplib::Request& req, httplib::Response& res) {
        if (req.target == "/none")
            res.status = 204;
        else
            res.set_content("hello", "text/plain");
    });
    struct Row {
        const char* path;
        std::uint8_t verb;
        int status;
    } rows[] = {{"/none", 0, 204}, {"/page", 2, 200}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        THttp_Socket s;
        PrepareFetch(s, std::string("http://127.0.0.20") + r.path, server.Port());
        s.Verb = r.verb;
        s.Execute();
        EXPECT_EQ(s.StatusCode, r.status);
        EXPECT_EQ(s.Response.Size(), 0);
    }
    EXPECT_EQ(server.Requests().back().method, "HEAD");
}

TEST_F(HttpSocketTest, KeepsRawHeadersAndTheFirstSetCookie) {
    TestServer server("127.0.0.20", [](const httplib::Request& req, httplib::Response& res) {
        if (req.target == "/cookies") {
            res.set_header("Set-Cookie", "session=1; Path=/");
            res.set_header("Set-Cookie", "theme=dark");
        }
        if (req.target == "/long")
            res.set_header("X-Long", std::string(3000, 'v'));
        res.set_header("X-Unit", "V4");
        res.set_content("x", "text/plain");
    });
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.20/cookies", server.Port());
    s.Execute();
    EXPECT_EQ(s.SetCookie, "session=1; Path=/");
    EXPECT_EQ(s.RawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << s.RawHeaders;
    EXPECT_NE(s.RawHeaders.find("\r\nX-Unit: V4\r\n"), std::string::npos);
    EXPECT_NE(s.RawHeaders.find("\r\nSet-Cookie: theme=dark\r\n"), std::string::npos);
    EXPECT_EQ(s.RawHeaders.substr(s.RawHeaders.size() - 4), "\r\n\r\n");
    for (std::size_t i = s.RawHeaders.find('\n'); i != std::string::npos;
         i = s.RawHeaders.find('\n', i + 1))
        EXPECT_EQ(s.RawHeaders[i - 1], '\r') << "at " << i;

    THttp_Socket plain;
    PrepareFetch(plain, "http://127.0.0.20/", server.Port());
    plain.Execute();
    EXPECT_EQ(plain.SetCookie, "");

    // A header block beyond the 2024-byte query buffer is still kept whole.
    THttp_Socket large;
    PrepareFetch(large, "http://127.0.0.20/long", server.Port());
    large.Execute();
    EXPECT_NE(large.RawHeaders.find("X-Long: " + std::string(3000, 'v') + "\r\n"),
              std::string::npos);
    EXPECT_EQ(large.RawHeaders.substr(large.RawHeaders.size() - 4), "\r\n\r\n");
}

TEST_F(HttpSocketTest, RedirectsAreFollowedOnlyWhenAsked) {
    TestServer server("127.0.0.20", [](const httplib::Request& req, httplib::Response& res) {
        if (req.target == "/old")
            res.set_redirect("/new");
        else
            res.set_content("arrived", "text/plain");
    });
    for (bool follow : {true, false}) {
        SCOPED_TRACE(follow);
        THttp_Socket s;
        PrepareFetch(s, "http://127.0.0.20/old", server.Port());
        s.FollowRedirects = follow;
        s.Execute();
        EXPECT_EQ(s.StatusCode, follow ? 200 : 302);
        EXPECT_EQ(s.Response.Text(), follow ? "arrived" : "");
        EXPECT_EQ(s.RawHeaders.find("Location:") != std::string::npos, !follow) << s.RawHeaders;
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].target, "/new");
    EXPECT_EQ(requests[2].target, "/old");
}

TEST_F(HttpSocketTest, ABodyNotReadWholeIsAFailureNotAPage) {
    const std::string page = "<p>g_HwId = \"171\"</p>" + std::string(979, '.'); // 1000 bytes
    struct Row {
        const char* name;
        std::string answer;
        std::int64_t limit;
        std::string message; // "": the page arrives whole
    };
    const std::string cutShort =
        "Read response failed with error 12030 The connection with the server was terminated "
        "abnormally.";
    const std::string tooLarge = "Response larger than 999 bytes";
    const std::vector<Row> rows = {
        {"whole, at the limit", THttpPeer::Answer("200 OK\r\nContent-Length: 1000", page), 1000,
         ""},
        {"whole, to the close", THttpPeer::Answer("200 OK\r\nConnection: close", page), -1, ""},
        {"cut short", THttpPeer::Answer("200 OK\r\nContent-Length: 1000", page.substr(0, 15)), -1,
         cutShort},
        {"chunked, cut short",
         THttpPeer::Answer("200 OK\r\nTransfer-Encoding: chunked", "3E8\r\n" + page + "\r\n"), -1,
         cutShort},
        {"chunked, broken",
         THttpPeer::Answer("200 OK\r\nTransfer-Encoding: chunked",
                           "3E8\r\n" + page + "\r\nzz\r\n" + page + "\r\n0\r\n\r\n"),
         -1, cutShort},
        {"announced beyond the limit", THttpPeer::Answer("200 OK\r\nContent-Length: 1000", page),
         999, tooLarge},
        {"beyond the limit, to the close", THttpPeer::Answer("200 OK\r\nConnection: close", page),
         999, tooLarge},
    };
    THttpPeer peer("127.0.1.1", 0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        peer.SetScript([&](const std::string&, const THttpPeer::TSend& send) { send(r.answer); });
        THttp_Socket s;
        PrepareFetch(s, "http://127.0.1.1/", peer.Port());
        s.ResponseLimit = r.limit;
        EXPECT_EQ(FailureOf(s), r.message);
        EXPECT_EQ(s.StatusCode, 200);
        if (r.message.empty()) {
            EXPECT_EQ(s.Response.Text(), page);
        }
        if (r.limit >= 0) {
            EXPECT_LE(s.Response.Size(), r.limit);
        }
    }
}

TEST_F(HttpSocketTest, SendFailuresCarryTheServiceErrorNumber) {
    TestServer plain("127.0.0.22");
    int closedPort = 0;
    {
        TestServer gone("127.0.0.23");
        closedPort = gone.Port();
    }
    InternetSetNameAnswerForTesting("unit.invalid", "");
    struct Row {
        std::string host;
        int port;
        bool secure;
        std::string message;
    } rows[] = {
        {"127.0.0.23", closedPort, false,
         "Send request failed with error 12029 A connection with the server could not be "
         "established."},
        {"unit.invalid", 80, false,
         "Send request failed with error 12007 The server name could not be resolved."},
        {"127.0.0.22", plain.Port(), true,
         "Send request failed with error 12157 An error occurred in the secure channel support."},
        // A server text that names no server (the refused forms: HttpText_test).
        {"127.0.22", plain.Port(), false,
         "Send request failed with error 12005 The URL is invalid"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.host);
        THttp_Socket s;
        PrepareFetch(s, "http://" + r.host, r.port);
        s.Secure = r.secure;
        const auto start = Clock::now();
        EXPECT_EQ(FailureOf(s), r.message);
        EXPECT_LT(Clock::now() - start, 5s);
    }
}

// Beside the steps that every platform's case covers (sslu_peer_test.cpp):
// an answer dripped a byte a second, head and all, keeps libcurl's own
// stall timer quiet; the request still ends at its limit.
TEST_F(HttpSocketTest, TimeLimitEndsAnAnswerDrippedWhole) {
    const std::string page = "<p>g_HwId = \"171\"</p>";
    const std::string answer =
        THttpPeer::Answer("200 OK\r\nContent-Length: " + std::to_string(page.size()), page);
    THttpPeer peer("127.0.1.3", 0);
    peer.SetScript(
        [&](const std::string&, const THttpPeer::TSend& send) { peer.Drip(send, answer, 1s); });
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.1.3/", peer.Port());
    ExpectRunUnderTimeLimit(s, 1200ms, TimedOut);
}

TEST_F(HttpSocketTest, ServerNameWithPortUsesThatPort) {
    TestServer server("127.0.0.21");
    InternetSetNameAnswerForTesting("unit.test", "127.0.0.21");
    for (const std::string host : {"unit.test", "127.0.0.21"}) {
        SCOPED_TRACE(host);
        const std::string named = host + ":" + std::to_string(server.Port());
        THttp_Socket s;
        PrepareFetch(s, "http://" + named + "/index.htm", 0);
        EXPECT_EQ(HostOfUrl("http://" + named + "/index.htm"), named);
        s.Execute();
        EXPECT_EQ(s.StatusCode, 200);
        EXPECT_EQ(server.Requests().back().Header("Host"), named);
    }
}

TEST_F(HttpSocketTest, ZeroPaddedAddressGroupsAreDecimal) {
    // 025 read as octal would be 21: a server listens there too, on the same port.
    // The other padded forms: HttpText_test.
    TestServer octal("127.0.0.21");
    TestServer decimal("127.0.0.25", {}, octal.Port());
    THttp_Socket s;
    PrepareFetch(s, "http://127.000.000.025", octal.Port());
    s.Execute();
    EXPECT_EQ(s.StatusCode, 200);
    EXPECT_EQ(decimal.Requests().size(), 1u);
    EXPECT_TRUE(octal.Requests().empty());
}

TEST_F(HttpSocketTest, StatusCallbackPumpsWhileTheServerStalls) {
    TestServer* stalled = nullptr;
    TestServer server("127.0.0.24", [&](const httplib::Request&, httplib::Response& res) {
        stalled->gate.Wait(10s);
        res.set_content("late", "text/plain");
    });
    stalled = &server;
    int pumps = 0;
    const auto start = Clock::now();
    SetPumpMessagesHook([&] {
        ++pumps;
        if (Clock::now() - start >= 1s)
            server.gate.Open();
    });
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.24/", server.Port());
    s.Execute();
    EXPECT_EQ(s.Response.Text(), "late");
    EXPECT_GE(pumps, 10); // one per 50 ms at most apart: about 20 in the second
}

TEST_F(HttpSocketTest, ExceptionFromThePumpLeavesExecuteAndTheDestructorReleases) {
    struct Cancelled {};
    TestServer* stalled = nullptr;
    TestServer server("127.0.0.24", [&](const httplib::Request&, httplib::Response&) {
        stalled->gate.Wait(10s);
    });
    stalled = &server;
    int pumps = 0;
    SetPumpMessagesHook([&] {
        if (++pumps == 5)
            throw Cancelled{};
    });
    ExpectFailedRunReleasesHandles<Cancelled>("http://127.0.0.24/", server.Port());
}

TEST_F(HttpSocketTest, StatusCallbackTakesTheCreatedHandleWhole) {
    int pumps = 0;
    SetPumpMessagesHook([&] { ++pumps; });
    THttp_Socket s;
    const auto context = reinterpret_cast<DWORD_PTR>(&s);
    INTERNET_ASYNC_RESULT created{static_cast<DWORD_PTR>(0x123456789ABCDEF0ull), 0};
    HttpStatusCallback(nullptr, context, INTERNET_STATUS_RECEIVING_RESPONSE, &created,
                       sizeof created);
    EXPECT_EQ(s.RequestHandle, nullptr);
    HttpStatusCallback(nullptr, context, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
    EXPECT_EQ(reinterpret_cast<DWORD_PTR>(s.RequestHandle), created.dwResult);
    int notAnObject = 0;
    HttpStatusCallback(nullptr, reinterpret_cast<DWORD_PTR>(&notAnObject),
                       INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
    EXPECT_EQ(notAnObject, 0);
    EXPECT_EQ(pumps, 3);
    s.RequestHandle = nullptr;
}

TEST_F(HttpSocketTest, VerbOutsideTheTableIsAFailureNotARead) {
    TestServer server("127.0.0.20");
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.20/", server.Port());
    s.Verb = 3;
    EXPECT_EQ(FailureOf(s), "Send request failed with error 6 The handle is invalid.");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpSocketTest, SecondRunKeepsOnlyTheNewBody) {
    int calls = 0;
    TestServer server("127.0.0.20", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(++calls == 1 ? "a longer first body" : "short", "text/plain");
    });
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.20/", server.Port());
    s.Execute();
    s.Execute();
    EXPECT_EQ(s.Response.Text(), "short");
}

// Lasts about 15 s: the stall limit of the service.
TEST_F(HttpSocketTest, StalledServerEndsTheRequestWithATimeout) {
    TestServer* stalled = nullptr;
    TestServer server("127.0.0.24", [&](const httplib::Request&, httplib::Response&) {
        stalled->gate.Wait(60s);
    });
    stalled = &server;
    THttp_Socket s;
    PrepareFetch(s, "http://127.0.0.24/", server.Port());
    const auto start = Clock::now();
    EXPECT_EQ(FailureOf(s), "Send request failed with error 12002 The operation timed out.");
    EXPECT_GE(Clock::now() - start, 14s);
    EXPECT_LT(Clock::now() - start, 30s);
}

} // namespace
