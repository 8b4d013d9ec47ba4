// One fetch of a unit's page over THttp_Socket, and the revision marker.
#include "app/UnitPages.h"

#include <fmt/format.h>

#include "app/RunOutcome.h"
#include "http/HttpText.h"
#include "http/sslu.h"
#include "runtime/Convert.h"

namespace {

/// The revision marker on the unit's home page, opening quote included.
constexpr std::string_view RevisionMarker = "g_HwId = \"";

/// The HTTP layer's pump hook for the length of one fetch.
class TPumpHook {
public:
    explicit TPumpHook(const std::function<void()>& pump) { SetPumpMessagesHook(pump); }
    ~TPumpHook() { SetPumpMessagesHook(nullptr); }
    TPumpHook(const TPumpHook&) = delete;
    TPumpHook& operator=(const TPumpHook&) = delete;
};

} // namespace

bool HasRevisionMarker(std::string_view page) {
    return page.find(RevisionMarker) != std::string_view::npos;
}

std::int32_t RevisionOfPage(std::string_view page) {
    const std::size_t marker = page.find(RevisionMarker);
    if (marker == std::string_view::npos)
        return 0;
    const std::size_t start = marker + RevisionMarker.size();
    // Without its closing quote the revision may be cut short ("17" of
    // "171"): no revision then, rather than the wrong unit's images.
    const std::size_t end = page.find('"', start);
    if (end == std::string_view::npos)
        return 0;
    return StrToInt(page.substr(start, end - start));
}

TPageFetch FetchPage(const std::string& url, std::chrono::milliseconds limit,
                     std::optional<std::chrono::steady_clock::time_point> giveUpAt,
                     const std::function<void()>& pump) {
    using Clock = std::chrono::steady_clock;
    limit = std::min(limit, TPageLimits::FetchTimeLimit);
    // One limit for the whole fetch, redirects included, and never past the
    // caller's own.
    auto giveUp = Clock::now() + limit;
    if (giveUpAt)
        giveUp = std::min(giveUp, *giveUpAt);
    const std::string host = HostOfUrl(url);
    std::string path = PathOfUrl(url);
    TPageFetch fetch;
    // The HTTP layer pumps through the caller while the request blocks; what
    // the pump throws (a cancel) is no failure of the fetch and goes on up.
    const TPumpHook hook(pump);
    try {
        // The service follows no redirect by itself: every request goes to
        // the unit's own server, whatever a page says, on every platform.
        for (int redirects = 0;; ++redirects) {
            // Rounded up: the last part of a millisecond still gets its request,
            // and the caller's own limit then tells what ended it.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(giveUp - Clock::now());
            if (left <= std::chrono::milliseconds::zero()) {
                fetch.Failure = "no page within " + SecondsText(limit) + " s";
                fetch.TimedOut = true;
                break;
            }
            THttp_Socket http;
            http.FollowRedirects = false;
            http.Verb = 0; // GET
            http.Host = host;
            http.Referrer.clear();
            http.Secure = false;
            http.PostData.clear();
            http.Unattended = true;
            http.Path = path;
            http.ResponseLimit = TPageLimits::MaxPageSize;
            http.TimeLimit = left;
            try {
                http.Execute();
            } catch (...) {
                fetch.TimedOut = http.TimedOut();
                throw;
            }
            // The unit's answers count, whatever their status, unless they
            // send the loader elsewhere.
            const auto location =
                IsRedirectStatus(http.StatusCode)
                    ? HeaderValue(HeaderBlockLines(http.RawHeaders), "Location", 0)
                    : std::nullopt;
            if (!location) {
                fetch.Text = http.Response.Text();
                break;
            }
            const auto next = SameServerTarget(host, path, *location);
            // A page elsewhere is no page of this unit.
            if (!next) {
                fetch.Failure = "redirect to another server refused: " + *location;
                break;
            }
            if (redirects == TPageLimits::MaxRedirects) {
                fetch.Failure = fmt::format("more than {} redirects", TPageLimits::MaxRedirects);
                break;
            }
            path = *next;
        }
    } catch (const std::exception& e) {
        // Every failure yields the empty page: an unreachable unit, a page
        // cut short or too large, and the callers read "no unit" from that.
        fetch.Failure = OneLine(e.what());
    }
    return fetch;
}
