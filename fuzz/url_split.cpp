// URL and server-text splitting on fuzzed texts: the input is up to three
// lines, a URL (also read as a server text), an object name and a redirect's
// Location. Checked: the scheme, host and path of a URL put back together
// give the URL; a server text that is taken comes out in a form that reads
// back the same; an object name becomes a URL path without a byte a URL
// cannot carry; and a redirect is followed only to a path on the server it
// came from, never to another server or port.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "http/HttpText.h"
#include "http/sslu.h"
#include "runtime/Convert.h"

namespace {

void Check(bool holds) {
    if (!holds)
        std::abort();
}

std::string_view TakeLine(std::string_view& input) {
    const auto end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return line;
}

void CheckUrl(const std::string& url) {
    const std::string s = StripHttpScheme(url);
    Check(s == url || (UpperCase(url.substr(0, 7)) == "HTTP://" && s == url.substr(7)));
    const std::string host = HostOfUrl(url);
    const std::string path = PathOfUrl(url);
    Check(host.find('/') == std::string::npos);
    Check(!path.empty() && path[0] == '/');
    Check(s.find('/') == std::string::npos ? host == s && path == "/" : host + path == s);
}

std::string ServerText(const TServerName& server) {
    return server.port ? server.urlHost + ":" + std::to_string(*server.port) : server.urlHost;
}

void CheckServer(const std::string& text) {
    const auto server = ParseServer(text);
    if (!server)
        return;
    Check(!server->name.empty() && !HasControl(server->name));
    Check(server->urlHost.find_first_of("/?#@ \t") == std::string::npos);
    Check(!server->port || *server->port != 0);
    const auto again = ParseServer(ServerText(*server));
    Check(again && again->name == server->name && again->urlHost == server->urlHost &&
          again->port == server->port);
}

void CheckObjectName(std::string_view path) {
    const std::string url = UrlPath(path);
    Check(!url.empty() && url[0] == '/');
    for (const char c : url) {
        const auto u = static_cast<unsigned char>(c);
        Check(u > 32 && u < 127 && c != '#');
    }
}

void CheckRedirect(const std::string& server, const std::string& path,
                   const std::string& location) {
    const auto next = SameServerTarget(server, path, location);
    Check(!next || (!next->empty() && (*next)[0] == '/'));
    // The Location read as a server of its own: followed exactly when it is
    // the same server on the same port, 80 when none is named.
    const auto from = ParseServer(server);
    const auto to = ParseServer(location);
    if (!from || !to)
        return;
    const bool same =
        SameText(from->name, to->name) && from->port.value_or(80) == to->port.value_or(80);
    const auto target = SameServerTarget(server, path, "http://" + ServerText(*to) + "/x");
    Check(same ? target == "/x" : !target);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string url(TakeLine(input));
    const std::string path(TakeLine(input));
    const std::string location(input);
    CheckUrl(url);
    CheckUrl(path);
    CheckServer(url);
    CheckServer(location);
    CheckObjectName(path);
    CheckRedirect(url, path, location);
    return 0;
}
