// The program's texts are UTF-8 inside; the Windows interfaces that take or
// give names and texts in full are the 16-bit ("W") ones. These convert at
// that edge, right before or after the call, so a folder named in any script
// works whatever the system's code page. Windows builds only (the POSIX
// interfaces take the UTF-8 bytes as they are); no platform type here.
#pragma once

#include <string>
#include <string_view>

/// text as UTF-16 for a W function. Text that is not UTF-8 came from an
/// interface of the system's code page (a main() whose arguments are
/// char*), and is read in that code page.
std::wstring WideText(std::string_view text);

/// What a W function gave, as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8Text(std::wstring_view wide);
