#include "runtime/Format.h"

#include <fmt/args.h>

void ThrowFormatError(std::string_view format) {
    throw EConvertError(fmt::format("Format '{}' invalid or incompatible with argument", format));
}

std::string FormatList(std::string_view format, const FormatArgs& args) {
    fmt::dynamic_format_arg_store<fmt::printf_context> store;
    for (const FormatArg& a : args)
        std::visit([&store](const auto& v) { store.push_back(v); }, a);
    try {
        return fmt::vsprintf(format, store);
    } catch (const fmt::format_error&) {
        ThrowFormatError(format);
    }
}
