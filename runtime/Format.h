// Message formatting with "%s" and "%d" placeholders, on libfmt's printf-style
// formatting. Every message text of the system with a placeholder is filled
// through here, so a placeholder that does not match its argument fails the
// same way everywhere: EConvertError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <fmt/printf.h>

#include "runtime/Exception.h"

/// One argument of a format list whose length is known only at run time.
using FormatArg = std::variant<std::string, std::int64_t>;
using FormatArgs = std::vector<FormatArg>;

[[noreturn]] void ThrowFormatError(std::string_view format);

/// Fills "%s" and "%d" in format with args, printf-style.
/// Throws EConvertError when a placeholder does not match its argument.
template <class... Args> std::string Format(std::string_view format, const Args&... args) {
    try {
        return fmt::sprintf(format, args...);
    } catch (const fmt::format_error&) {
        ThrowFormatError(format);
    }
}

/// As Format, with the arguments as a list built at run time.
std::string FormatList(std::string_view format, const FormatArgs& args);
