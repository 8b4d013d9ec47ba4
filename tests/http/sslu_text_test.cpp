// The sslu functions that need no server: the URL split and the error texts.
// They run on every platform; where the platform gives a text of its own, a
// row says so.
#include <gtest/gtest.h>

#include <string>

#include "http/sslu.h"

namespace {

#ifdef _WIN32
constexpr bool OnWindows = true;
#else
constexpr bool OnWindows = false;
#endif

TEST(UrlHelpers, SplitServerAndObjectName) {
    struct Row {
        const char* url;
        const char* stripped;
        const char* host;
        const char* path;
    } rows[] = {
        {"HTTP://192.168.100.100", "192.168.100.100", "192.168.100.100", "/"},
        {"http://192.168.100.100/index2.htm?tftpp=69", "192.168.100.100/index2.htm?tftpp=69",
         "192.168.100.100", "/index2.htm?tftpp=69"},
        {"hTtP://192.168.100.100/index2.htm?REBOOT", "192.168.100.100/index2.htm?REBOOT",
         "192.168.100.100", "/index2.htm?REBOOT"},
        {"192.168.100.100", "192.168.100.100", "192.168.100.100", "/"},
        {"https://unit/a", "https://unit/a", "https:", "//unit/a"},
        {"http://unit:8080/a", "unit:8080/a", "unit:8080", "/a"},
        {"http://user@unit", "user@unit", "user@unit", "/"},
        {"unit/go?to=http://other/", "unit/go?to=http://other/", "unit", "/go?to=http://other/"},
        {"http:/", "http:/", "http:", "/"},
        {"", "", "", "/"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.url);
        EXPECT_EQ(StripHttpScheme(r.url), r.stripped);
        EXPECT_EQ(HostOfUrl(r.url), r.host);
        EXPECT_EQ(PathOfUrl(r.url), r.path);
    }
}

TEST(InternetErrorText, TableTextsSystemTextsAndBareCodes) {
    // The libcurl stand-in has system texts only for the few system codes it
    // sets, so the service's numbers that reach the user take this layer's
    // own text, and the others the bare code. On Windows wininet.dll has a
    // text for each of its numbers and the system one for the rest; their
    // words differ between Windows versions, and each ends in CR LF. Either
    // way a reason is one line, without a trailing blank.
    struct Row {
        DWORD code;
        const char* standIn;
        bool windowsText;
    } rows[] = {
        {12002, "12002 The operation timed out.", true},
        {12005, "12005 The URL is invalid", true},
        {12006, "12006 The URL scheme could not be recognized or is not supported.", true},
        {12007, "12007 The server name could not be resolved.", true},
        {12029, "12029 A connection with the server could not be established.", true},
        {12030, "12030 The connection with the server was terminated abnormally.", true},
        {6, "6 The handle is invalid.", true},
        {99999, "99999", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        const std::string text = InternetErrorText(r.code);
        if (!OnWindows) {
            EXPECT_EQ(text, r.standIn);
            continue;
        }
        const std::string number = std::to_string(r.code);
        ASSERT_EQ(text.rfind(number, 0), 0u) << text;
        if (r.windowsText) {
            EXPECT_GT(text.size(), number.size() + 2) << text;
            EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
            EXPECT_NE(text.back(), ' ') << text;
        } else {
            EXPECT_EQ(text, number);
        }
    }
}

} // namespace
