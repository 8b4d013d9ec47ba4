// The HTTP service on libcurl, driven through its platform operations against
// a real HTTP server on loopback: header rules, response queries, connection
// reuse, proxies from the environment, and a body cut short.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "http/WinInet.h"
#include "tests/http/TestServer.h"

namespace {

constexpr DWORD FetchFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;

/// A root, a connection and a request on it, all closed at the end.
struct Session {
    Session(const std::string& server, INTERNET_PORT port, DWORD flags = FetchFlags)
        : root(InternetOpenA("probe", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)),
          connect(
              InternetConnectA(root, server.c_str(), port, "", "", INTERNET_SERVICE_HTTP, 0, 0)) {
        request = Open("/", flags);
    }
    ~Session() {
        for (HINTERNET h : {request, connect, root})
            InternetCloseHandle(h);
    }
    HINTERNET Open(const char* path, DWORD flags) {
        return HttpOpenRequestA(connect, "GET", path, "HTTP/1.1", "", nullptr, flags, 0);
    }
    HINTERNET root, connect, request;
};

class HttpServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        InternetClearNameAnswersForTesting();
    }
    void TearDown() override { ClearProxyEnvironment(); }
};

TEST_F(HttpServiceTest, AddIfNewRefusesPresentNamesInAnyCase) {
    TestServer server("127.0.0.30");
    Session s("127.0.0.30", static_cast<INTERNET_PORT>(server.Port()));
    ASSERT_NE(s.request, nullptr);
    const char* lines = "X-A: 1\r\nx-a: 2\r\nX-B: 3\r\n";
    EXPECT_FALSE(HttpAddRequestHeadersA(s.request, lines, static_cast<DWORD>(-1),
                                        HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_ALREADY_EXISTS);
    EXPECT_FALSE(HttpAddRequestHeadersA(s.request, "x-b: 9", 6, HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    // A stray CR would let a line carry a second header.
    EXPECT_FALSE(HttpAddRequestHeadersA(s.request, "X-C: 1\rX-D: 2", static_cast<DWORD>(-1),
                                        HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
    ASSERT_TRUE(HttpSendRequestA(s.request, nullptr, 0, nullptr, 0));

    const RecordedRequest req = server.Requests().at(0);
    EXPECT_EQ(req.Header("X-A"), "1");
    EXPECT_EQ(req.Header("X-B"), "3");
    EXPECT_EQ(req.headers.count("X-A"), 1u);
    EXPECT_FALSE(req.Has("X-C") || req.Has("X-D"));
    EXPECT_EQ(req.Header("User-Agent"), "probe");
}

TEST_F(HttpServiceTest, QueriesTheFinalResponse) {
    TestServer server("127.0.0.30", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "a=1");
        res.set_header("Set-Cookie", "b=2");
        res.status = 404;
    });
    Session s("127.0.0.30", static_cast<INTERNET_PORT>(server.Port()));
    char buffer[64] = {};
    DWORD length = sizeof buffer;
    DWORD index = 0;
    EXPECT_FALSE(HttpQueryInfoA(s.request, HTTP_QUERY_SET_COOKIE, buffer, &length, &index));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    ASSERT_TRUE(HttpSendRequestA(s.request, nullptr, 0, nullptr, 0));

    length = sizeof buffer;
    ASSERT_TRUE(HttpQueryInfoA(s.request, HTTP_QUERY_STATUS_CODE, buffer, &length, &index));
    EXPECT_EQ(std::string(buffer, length), "404");

    for (const char* cookie : {"a=1", "b=2"}) {
        length = sizeof buffer;
        ASSERT_TRUE(HttpQueryInfoA(s.request, HTTP_QUERY_SET_COOKIE, buffer, &length, &index));
        EXPECT_EQ(std::string(buffer, length), cookie);
    }
    EXPECT_EQ(index, 2u);
    length = sizeof buffer;
    EXPECT_FALSE(HttpQueryInfoA(s.request, HTTP_QUERY_SET_COOKIE, buffer, &length, &index));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
}

TEST_F(HttpServiceTest, KeepConnectionReusesTheConnectionOfTheRoot) {
    TestServer server("127.0.0.31");
    for (DWORD flags : {FetchFlags, FetchFlags & ~INTERNET_FLAG_KEEP_CONNECTION}) {
        SCOPED_TRACE(flags);
        Session s("127.0.0.31", static_cast<INTERNET_PORT>(server.Port()), flags);
        HINTERNET second = s.Open("/second", flags);
        for (HINTERNET request : {s.request, second}) {
            ASSERT_TRUE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
            DWORD read = 1;
            char byte = 0;
            while (read != 0)
                ASSERT_TRUE(InternetReadFile(request, &byte, 1, &read));
        }
        InternetCloseHandle(second);
        const auto requests = server.Requests();
        const bool reused = requests[requests.size() - 2].remotePort == requests.back().remotePort;
        EXPECT_EQ(reused, (flags & INTERNET_FLAG_KEEP_CONNECTION) != 0);
    }
}

TEST_F(HttpServiceTest, ProxyComesFromTheEnvironment) {
    TestServer proxy("127.0.0.32");
    // Were the proxy ignored, the request would go here and be refused.
    InternetSetNameAnswerForTesting("unit.test", "127.0.0.33");
    setenv("http_proxy", ("http://127.0.0.32:" + std::to_string(proxy.Port())).c_str(), 1);
    Session s("unit.test", 0);
    EXPECT_TRUE(HttpSendRequestA(s.request, nullptr, 0, nullptr, 0));
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, "http://unit.test/");
}

TEST_F(HttpServiceTest, BodyCutShortEndsTheReadsWithConnectionAborted) {
    TestServer server("127.0.0.34", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "application/octet-stream",
                                 [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                     sink.write("0123456789", 10);
                                     return false; // the server drops the connection
                                 });
    });
    Session s("127.0.0.34", static_cast<INTERNET_PORT>(server.Port()));
    ASSERT_TRUE(HttpSendRequestA(s.request, nullptr, 0, nullptr, 0));
    std::string body;
    char buffer[100];
    DWORD read = 0;
    while (InternetReadFile(s.request, buffer, sizeof buffer, &read) && read != 0)
        body.append(buffer, read);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(body, "0123456789");
}

} // namespace
