// What the request object's tests on every platform do with one object: set
// it up as the device conversation does, run it for its failure, and see
// that a run cut short by the message pump leaves no handle behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "http/sslu.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

/// Set up as the device conversation does for a URL on a server at port.
inline void PrepareFetch(THttp_Socket& s, const std::string& url, int port) {
    s.FollowRedirects = true;
    s.Verb = 0;
    s.Host = HostOfUrl(url);
    s.Secure = false;
    s.Unattended = true;
    s.Path = PathOfUrl(url);
    s.ServerPort = static_cast<std::uint16_t>(port);
}

/// The message that Execute raised, or "" when it raised none.
inline std::string FailureOf(THttp_Socket& s) {
    try {
        s.Execute();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

/// The reason of a request that its time limit ended, %d standing for the limit.
inline const std::string TimedOut = "Request timed out after %d ms";

/// Runs s under limit and expects message ("" for none; %d stands for the
/// limit), within the limit and a generous margin.
inline void ExpectRunUnderTimeLimit(THttp_Socket& s, std::chrono::milliseconds limit,
                                    const std::string& message) {
    s.TimeLimit = limit;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(s), Format(message, static_cast<std::int64_t>(limit.count())));
    EXPECT_LT(std::chrono::steady_clock::now() - start, limit + std::chrono::seconds(2));
}

/// Runs a fetch of url whose message pump raises Failure: expects Execute to
/// raise it with all three handles open, and each of them released once the
/// object is gone.
template <class Failure> void ExpectFailedRunReleasesHandles(const std::string& url, int port) {
    HINTERNET handles[3] = {};
    {
        THttp_Socket s;
        PrepareFetch(s, url, port);
        EXPECT_THROW(s.Execute(), Failure);
        handles[0] = s.RootHandle;
        handles[1] = s.ConnectHandle;
        handles[2] = s.RequestHandle;
        for (HINTERNET h : handles)
            EXPECT_NE(h, nullptr);
    }
    for (HINTERNET h : handles) {
        EXPECT_FALSE(InternetCloseHandle(h)) << "still open";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}
