// The client of the unit's web pages: one GET of a page, redirects within the
// unit's own server followed and all else refused, under one time limit, and
// the hardware revision that the home page reports. Connect, the commands and
// the wait all read the unit through here. A fetch gives its page and why it
// got none together; nothing is kept between fetches.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

/// The revision that a home page reports: the integer between the quotes
/// after the first marker "g_HwId = \"". 0 when there is no marker or no
/// closing quote after it. Throws EConvertError when the text between the
/// quotes is no integer.
std::int32_t RevisionOfPage(std::string_view page);

/// True when page holds the revision marker at all.
bool HasRevisionMarker(std::string_view page);

/// A fetched page, or why there is none.
struct TPageFetch {
    /// The whole body, byte for byte; empty when the fetch failed.
    std::string Text;
    /// Why the fetch gave no page: no answer, a time limit, a redirect
    /// elsewhere, a page too large...; empty when it got one.
    std::string Failure;
    /// The fetch ended because its time ran out (its limit or giveUpAt).
    bool TimedOut = false;
};

struct TPageLimits {
    /// The largest page taken, in bytes; a unit's pages are a few kilobytes.
    static constexpr std::int64_t MaxPageSize = 4 * 1024 * 1024;
    /// The most redirects that one fetch follows.
    static constexpr int MaxRedirects = 10;
    /// How long one fetch may take, redirects included: a unit's page is a
    /// few kilobytes on a local network, so anything slower is a unit (or
    /// something else) that does not answer as a unit does.
    static constexpr std::chrono::milliseconds FetchTimeLimit{5000};
};

/// GETs url and follows redirects within its server, the whole fetch ending
/// within limit (at most FetchTimeLimit) and, when given, by giveUpAt. While
/// a request blocks, pump is called; what it throws (a cancel) ends the
/// fetch and is thrown on. Every other failure is the result's Failure.
TPageFetch FetchPage(const std::string& url, std::chrono::milliseconds limit,
                     std::optional<std::chrono::steady_clock::time_point> giveUpAt,
                     const std::function<void()>& pump);
