// The HTTP service's text rules, without a server: request header lines, server
// texts, URL paths, and the status and header values of a received block.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "http/HttpText.h"

namespace {

TEST(HttpText, HeaderTextLines) {
    struct Row {
        const char* text;
        std::vector<std::string> lines; // "Name: value" as taken, "!" for a refused line
    } rows[] = {
        {"X-A: 1\r\nx-a: 2\r\nX-B: 3\r\n", {"X-A: 1", "x-a: 2", "X-B: 3"}},
        {"  Name :  value  ", {"Name: value"}},
        {"A: 1\n\r\n \t \nB: 2", {"A: 1", "B: 2"}},
        {"Location: http://unit/x", {"Location: http://unit/x"}},
        {"X:\tone\ttwo", {"X: one\ttwo"}},
        {"A: 1\r\nNoColon\r\nB: 2", {"A: 1", "!", "B: 2"}},
        {"X-C: 1\rX-D: 2", {"!"}},
        {"X: a\x7f", {"!"}},
        {": value", {"!"}},
        {"Two Words: x", {"!"}},
        {"", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(std::string(r.text)));
        std::vector<std::string> lines;
        for (const auto& field : ParseHeaderText(r.text))
            lines.push_back(field ? field->name + ": " + field->value : "!");
        EXPECT_EQ(lines, r.lines);
    }
}

TEST(HttpText, ControlCharactersAndHeaderNames) {
    // 8-bit letters are text, not control characters, whatever the sign of char.
    for (const char* text : {"Tessik TFTP Loader", "a\tb", "\xE9t\xE9"})
        EXPECT_FALSE(HasControl(text)) << testing::PrintToString(std::string(text));
    EXPECT_TRUE(HasControl("a\x1f"));

    const std::vector<std::string> lines = {"X-A: 1", " Pragma : no-cache"};
    for (const char* name : {"x-a", " PRAGMA "})
        EXPECT_TRUE(HasHeader(lines, name)) << name;
    for (const char* name : {"X", "X-A: 1", "Cache-Control"})
        EXPECT_FALSE(HasHeader(lines, name)) << name;
}

TEST(HttpText, ServerTexts) {
    struct Row {
        const char* text;
        std::optional<TServerName> server; // none: refused
    } rows[] = {
        {"unit.test", TServerName{"unit.test", "unit.test", std::nullopt}},
        {" unit_1-a.local:8080 ", TServerName{"unit_1-a.local", "unit_1-a.local", 8080}},
        {"localhost:65535", TServerName{"localhost", "localhost", 65535}},
        // IPv4 groups are decimal whatever their padding, as the TFTP side reads them.
        {"127.000.000.025", TServerName{"127.0.0.25", "127.0.0.25", std::nullopt}},
        {"127.0  .0  .25 ", TServerName{"127.0.0.25", "127.0.0.25", std::nullopt}},
        {"127. 0. 0. 25:0080", TServerName{"127.0.0.25", "127.0.0.25", 80}},
        {"::1", TServerName{"::1", "[::1]", std::nullopt}},
        {"[::1]:8080", TServerName{"::1", "[::1]", 8080}},
        {"[::ffff:127.0.0.1]", TServerName{"::ffff:127.0.0.1", "[::ffff:127.0.0.1]", std::nullopt}},
        // Number forms that a URL parser would read as another address.
        {"127.0.22", std::nullopt},
        {"2130706454", std::nullopt},
        {"0x7f000001", std::nullopt},
        {"256.1.1.1", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        // Ports outside 1 to 65535 or not plain digits.
        {"127.0.0.22:0", std::nullopt},
        {"unit:65536", std::nullopt},
        {"unit:", std::nullopt},
        {"unit:+80", std::nullopt},
        {"unit:000080", std::nullopt},
        // Texts that would carry more than a server into the URL.
        {"user@unit", std::nullopt},
        {"unit/path", std::nullopt},
        {"un it", std::nullopt},
        {"fe80::1%eth0", std::nullopt},
        {"[::1", std::nullopt},
        {"[::1]x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        const auto server = ParseServer(r.text);
        ASSERT_EQ(server.has_value(), r.server.has_value());
        if (server) {
            EXPECT_EQ(server->name, r.server->name);
            EXPECT_EQ(server->urlHost, r.server->urlHost);
            EXPECT_EQ(server->port, r.server->port);
        }
    }
}

TEST(HttpText, ObjectNamesAsUrlPaths) {
    struct Row {
        const char* path;
        const char* url;
    } rows[] = {
        {"", "/"},
        {"/index2.htm?tftpp=69", "/index2.htm?tftpp=69"},
        {"index.htm", "/index.htm"},
        {"/a b#c", "/a%20b%23c"},
        {"/\xE9\x7f\r\n", "/%E9%7F%0D%0A"},
        {"/50%25", "/50%25"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(std::string(r.path)));
        EXPECT_EQ(UrlPath(r.path), r.url);
    }
}

TEST(HttpText, StatusAndHeaderValuesOfAReceivedBlock) {
    struct StatusRow {
        std::vector<std::string> head;
        int status;
    } statusRows[] = {
        {{"HTTP/1.1 200 OK", "X: 1"}, 200},
        {{"HTTP/1.0 404"}, 404},
        {{"HTTP/2 204"}, 204},
        {{"HTTP/1.1"}, 0},
        {{"HTTP/1.1 OK"}, 0},
        {{}, 0},
    };
    for (const StatusRow& r : statusRows) {
        SCOPED_TRACE(r.head.empty() ? "" : r.head[0]);
        EXPECT_EQ(StatusOf(r.head), r.status);
    }

    const std::vector<std::string> head = {
        "HTTP/1.1 302 Found",  "Set-Cookie: a=1",         "set-cookie:b=2 ", "X: y",
        "Set-Cookie : c=3; x", "Location: http://unit/x",
    };
    struct ValueRow {
        const char* name;
        std::size_t index;
        std::optional<std::string> value;
    } valueRows[] = {
        {"Set-Cookie", 0, "a=1"},
        {"Set-Cookie", 1, "b=2"},
        {"SET-COOKIE", 2, "c=3; x"},
        {"Set-Cookie", 3, std::nullopt},
        {"Location", 0, "http://unit/x"},
        {"Referer", 0, std::nullopt},
        {"HTTP/1.1 302 Found", 0, std::nullopt},
    };
    for (const ValueRow& r : valueRows) {
        SCOPED_TRACE(testing::Message() << r.name << " " << r.index);
        EXPECT_EQ(HeaderValue(head, r.name, r.index), r.value);
    }
}

TEST(HttpText, BodySizeThatAHeaderBlockAnnounces) {
    struct Row {
        std::string raw;
        std::optional<std::uint64_t> size;
    } rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 1000},
        {"HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 7\r\n\r\n", 7},
        {"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551615\r\n\r\n", std::nullopt},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9999999999999999999\r\n\r\n", 9999999999999999999u},
        {"HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 8\r\n\r\n", std::nullopt},
        {"HTTP/1.1 200 OK\r\nContent-Length: +7\r\n\r\n", std::nullopt},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n",
         std::nullopt},
        {"HTTP/1.1 200 OK\r\n\r\n", std::nullopt},
        // Only the block counts, not what follows its blank line.
        {"HTTP/1.1 200 OK\r\n\r\nContent-Length: 5\r\n", std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.raw));
        EXPECT_EQ(AnnouncedBodySize(HeaderBlockLines(r.raw)), r.size);
    }
}

TEST(HttpText, RedirectTargetsOnTheSameServerOnly) {
    struct Row {
        const char* server;
        const char* path;
        const char* location;
        std::optional<std::string> next; // none: a redirect the loader must not follow
    } rows[] = {
        {"127.0.0.1", "/", "/home.htm", "/home.htm"},
        {"127.0.0.1", "/a/b.htm?x=1", "c.htm", "/a/c.htm"},
        {"127.0.0.1", "/a/b.htm?x=1", "?y=2", "/a/b.htm?y=2"},
        {"127.0.0.1", "/", "/home.htm#top", "/home.htm"},
        {"127.000.000.001", "/", "HTTP://127.0.0.1:80/x?q", "/x?q"},
        {"127.0.0.1", "/", "http://127.000.000.001", "/"},
        {"unit.test:8080", "/", "http://UNIT.test:8080/x", "/x"},
        // Another server, port or scheme.
        {"127.0.0.1", "/", "http://127.0.0.2/", std::nullopt},
        {"127.0.0.1", "/", "http://127.0.0.1:8080/", std::nullopt},
        {"127.0.0.1:8080", "/", "http://127.0.0.1/", std::nullopt},
        {"127.0.0.1", "/", "https://127.0.0.1/", std::nullopt},
        {"127.0.0.1", "/", "http://user@127.0.0.1/", std::nullopt},
        {"localhost", "/", "http://127.0.0.1/", std::nullopt},
        // Nothing that can be read as a place on the unit.
        {"127.0.0.1", "/", "http:/x", std::nullopt},
        {"127.0.0.1", "/", "1a:b", std::nullopt},
        {"127.0.0.1", "/", "", std::nullopt},
        {"127.0.0.1", "/", "/x\r\nHost: evil", std::nullopt},
        {"127.0.0.1", "/", "////127.0.0.2/", std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.server << " " << r.path << " -> " << r.location);
        EXPECT_EQ(SameServerTarget(r.server, r.path, r.location), r.next);
    }
}

} // namespace
