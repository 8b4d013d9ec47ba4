// The text rules of HTTP requests that need no HTTP library: which request
// header lines are sound, how a connection's server text names a server and a
// port, how an object name goes into a URL, how the status and header values
// are read out of a received header block, how long its body must be, and
// where a redirect leads on the same server. Plain text in, plain values out:
// no libcurl, no platform types and no service error numbers here, so that
// every implementation of the HTTP service, and the request object above it,
// can share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// True when the text holds a control character: a code below 32 other than
/// TAB, or 127.
bool HasControl(std::string_view text);

/// True when one of the "Name: value" lines carries the name, ignoring letter
/// case and blanks around the names.
bool HasHeader(const std::vector<std::string>& lines, std::string_view name);

/// One request header line taken apart, blanks around name and value dropped.
struct THeaderField {
    std::string name;
    std::string value;
};

/// The lines of a header text ("Name: value" lines separated by LF or CR LF),
/// blank lines left out, in order. A line without a colon, with an empty name
/// or a blank inside it, or with a control character (a stray CR or LF would
/// let it smuggle another header) gives none in its place.
std::vector<std::optional<THeaderField>> ParseHeaderText(std::string_view text);

/// A server as a request goes to it.
struct TServerName {
    std::string name;    // as looked up: host name or address, without brackets
    std::string urlHost; // as it goes into the URL
    std::optional<std::uint16_t> port;
};

/// A connection's server text: a host name, an IPv4 address, or an IPv6
/// address (bracketed when a port follows), then optionally ":" and a port of
/// 1 to 65535. An IPv4 address is read group by group in decimal with blanks
/// around groups ignored, as the TFTP side reads it, and given in the plain
/// dotted form; a number form that URL parsers would read as another address
/// (an octal group, fewer than four groups, one 32-bit number) is refused.
/// None when the text names no server that a request could go to.
std::optional<TServerName> ParseServer(std::string_view text);

/// The object name as the path of a URL, beginning with "/": bytes that a URL
/// cannot carry as they are are escaped, and "#" too, which would otherwise
/// cut the path short.
std::string UrlPath(std::string_view path);

/// The status code of a header block (status line first, then "Name: value"
/// lines); 0 when the status line carries none.
int StatusOf(const std::vector<std::string>& head);

/// The value of the index-th line named name (letter case ignored) after the
/// status line, blanks around it dropped; none when there are fewer.
std::optional<std::string> HeaderValue(const std::vector<std::string>& head, std::string_view name,
                                       std::size_t index);

/// The lines of a raw header block as the service gives it (lines ending in
/// CR LF, a blank line at the end), without their line ends, up to the first
/// blank line.
std::vector<std::string> HeaderBlockLines(std::string_view raw);

/// True for the statuses whose Location names where the object went: 301,
/// 302, 303, 307 and 308.
bool IsRedirectStatus(int status);

/// The body size that a header block announces with Content-Length; none
/// when it announces none that binds: no Content-Length, a chunked
/// Transfer-Encoding (which wins over it), or a value that is not one plain
/// decimal number (several lines must agree).
std::optional<std::uint64_t> AnnouncedBodySize(const std::vector<std::string>& head);

/// The object name that a redirect's Location names on the server that the
/// request went to: server is the connection's server text (port 80 unless
/// it names one), path the object name that was asked for. A Location that
/// is a path, or that names the same server and port over http, gives the
/// path to ask for next, beginning with "/", its fragment dropped. None when
/// it names another server, port or scheme, or is empty, holds a control
/// character or cannot be read.
std::optional<std::string> SameServerTarget(std::string_view server, std::string_view path,
                                            std::string_view location);
