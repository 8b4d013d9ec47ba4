#include "http/HttpText.h"

#include <algorithm>
#include <cctype>

#include "runtime/Convert.h"
#include "runtime/Format.h"

namespace {

constexpr std::uint16_t DefaultHttpPort = 80; // RFC 9110, 4.2.1
constexpr std::size_t MaxLengthDigits = 19;   // any 19 digits fit 64 bits

// Takes the next line, ended by LF or CR LF or by the end, off text.
std::string_view TakeLine(std::string_view& text) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::string_view NameOf(std::string_view line) {
    return line.substr(0, line.find(':'));
}

// The server text read as the TFTP side reads an IPv4 address: four groups
// split at ".", blanks around each ignored, each converted as a whole number
// (so "010" is ten), nothing left after the fourth. The plain dotted form.
std::optional<std::string> DottedIPv4(std::string_view text) {
    int value[4];
    for (int& v : value) {
        const auto dot = text.find('.');
        const auto n = TryStrToInt(Trim(text.substr(0, dot)));
        if (!n || *n < 0 || *n > 255)
            return std::nullopt;
        v = *n;
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    }
    if (!text.empty())
        return std::nullopt;
    return Format("%d.%d.%d.%d", value[0], value[1], value[2], value[3]);
}

// A text that URL parsers would read as a number-form address (groups with a
// leading zero as octal, fewer than four groups, one 32-bit number), where the
// TFTP side would not read the same address.
bool LooksNumeric(std::string_view text) {
    for (;;) {
        const auto dot = text.find('.');
        const std::string part = Trim(text.substr(0, dot));
        const bool hex = part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X');
        const auto digits = std::string_view(part).substr(hex ? 2 : 0);
        const bool numeric = std::all_of(digits.begin(), digits.end(), [&](char c) {
            return (c >= '0' && c <= '9') || (hex && std::isxdigit(static_cast<unsigned char>(c)));
        });
        if (!numeric)
            return false;
        if (dot == std::string_view::npos)
            return true;
        text = text.substr(dot + 1);
    }
}

bool IsHostName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '-' || c == '.' || c == '_' || u >= 0x80;
    });
}

bool IsIPv6Text(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
    });
}

std::optional<std::uint16_t> PortOf(std::string_view text) {
    const std::string p = Trim(text);
    if (p.empty() || p.size() > 5 ||
        !std::all_of(p.begin(), p.end(), [](char d) { return d >= '0' && d <= '9'; }))
        return std::nullopt;
    const int port = StrToInt(p);
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

} // namespace

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 32 && c != '\t') || u == 127;
    });
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return SameText(Trim(NameOf(line)), Trim(name));
    });
}

std::vector<std::optional<THeaderField>> ParseHeaderText(std::string_view text) {
    std::vector<std::optional<THeaderField>> fields;
    while (!text.empty()) {
        const std::string_view line = TakeLine(text);
        if (Trim(line).empty())
            continue;
        const auto colon = line.find(':');
        std::string name = Trim(line.substr(0, colon));
        if (colon == std::string_view::npos || name.empty() || HasControl(line) ||
            name.find_first_of(" \t") != std::string::npos)
            fields.emplace_back();
        else
            fields.push_back(THeaderField{std::move(name), Trim(line.substr(colon + 1))});
    }
    return fields;
}

std::optional<TServerName> ParseServer(std::string_view text) {
    const std::string s = Trim(text);
    std::string name, portText;
    bool hasPort = false;
    TServerName server;
    if (!s.empty() && s[0] == '[') {
        const auto close = s.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        name = s.substr(1, close - 1);
        const std::string rest = s.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return std::nullopt;
        hasPort = !rest.empty();
        portText = hasPort ? rest.substr(1) : "";
    } else if (std::count(s.begin(), s.end(), ':') >= 2) {
        name = s;
    } else {
        const auto colon = s.find(':');
        name = s.substr(0, colon);
        hasPort = colon != std::string::npos;
        portText = hasPort ? s.substr(colon + 1) : "";
    }
    if (name.find(':') != std::string::npos) {
        if (!IsIPv6Text(name))
            return std::nullopt;
        server.name = name;
        server.urlHost = "[" + name + "]";
    } else if (auto dotted = DottedIPv4(name)) {
        server.name = server.urlHost = *dotted;
    } else {
        name = Trim(name);
        if (!IsHostName(name) || LooksNumeric(name))
            return std::nullopt;
        server.name = server.urlHost = name;
    }
    if (hasPort) {
        server.port = PortOf(portText);
        if (!server.port)
            return std::nullopt;
    }
    return server;
}

std::string UrlPath(std::string_view path) {
    std::string out = path.empty() || path[0] != '/' ? "/" : "";
    for (char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || c == '#')
            out += Format("%%%02X", static_cast<int>(u));
        else
            out += c;
    }
    return out;
}

int StatusOf(const std::vector<std::string>& head) {
    if (head.empty())
        return 0;
    const auto blank = head[0].find(' ');
    if (blank == std::string::npos)
        return 0;
    return TryStrToInt(Trim(head[0].substr(blank + 1, 3))).value_or(0);
}

std::optional<std::string> HeaderValue(const std::vector<std::string>& head, std::string_view name,
                                       std::size_t index) {
    for (std::size_t i = 1; i < head.size(); ++i)
        if (SameText(Trim(NameOf(head[i])), name) && index-- == 0)
            return Trim(std::string_view(head[i]).substr(head[i].find(':') + 1));
    return std::nullopt;
}

std::vector<std::string> HeaderBlockLines(std::string_view raw) {
    std::vector<std::string> lines;
    while (!raw.empty()) {
        const std::string_view line = TakeLine(raw);
        if (line.empty())
            break;
        lines.emplace_back(line);
    }
    return lines;
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::uint64_t> AnnouncedBodySize(const std::vector<std::string>& head) {
    // RFC 9112, 6.3: a Transfer-Encoding overrides any Content-Length.
    if (HeaderValue(head, "Transfer-Encoding", 0))
        return std::nullopt;
    std::optional<std::uint64_t> size;
    for (std::size_t i = 0; const auto value = HeaderValue(head, "Content-Length", i); ++i) {
        if (value->empty() || value->size() > MaxLengthDigits ||
            !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const std::uint64_t n = std::stoull(*value);
        if (size && *size != n)
            return std::nullopt;
        size = n;
    }
    return size;
}

std::optional<std::string> SameServerTarget(std::string_view server, std::string_view path,
                                            std::string_view location) {
    location = location.substr(0, location.find('#')); // a fragment never goes to the server
    if (location.empty() || HasControl(location))
        return std::nullopt;
    const auto colon = location.find(':');
    if (colon != std::string_view::npos && colon < location.find_first_of("/?")) {
        // A scheme: only http itself, and only with a server part to compare.
        if (!SameText(location.substr(0, colon), "http") || location.substr(colon + 1, 2) != "//")
            return std::nullopt;
        location.remove_prefix(colon + 1);
    }
    if (location.substr(0, 2) == "//") {
        location.remove_prefix(2);
        const auto end = location.find_first_of("/?");
        const auto from = ParseServer(server);
        const auto to = ParseServer(location.substr(0, end));
        if (!from || !to || !SameText(from->name, to->name) ||
            from->port.value_or(DefaultHttpPort) != to->port.value_or(DefaultHttpPort))
            return std::nullopt;
        location = end == std::string_view::npos ? std::string_view() : location.substr(end);
        return location.empty() || location[0] != '/' ? "/" + std::string(location)
                                                      : std::string(location);
    }
    if (location[0] == '/')
        return std::string(location);
    // Relative to the object asked for: its query goes, and for a relative
    // path its last segment too.
    const std::string_view object = path.substr(0, path.find('?'));
    std::string base = object.empty() || object[0] != '/' ? "/" : "";
    base += object;
    if (location[0] != '?')
        base.erase(base.rfind('/') + 1);
    return base + std::string(location);
}
