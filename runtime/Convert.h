// Text and number conversions of the runtime: the integer conversion that the
// address texts, the OACK parser and the revision query all share, trimming,
// ASCII case mapping, and the printable form of a text for a terminal. Texts
// are std::string holding 8-bit text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// Converts a text to a signed 32-bit integer: optional leading blanks, an
/// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
/// "X", "0x" or "0X". Nothing may follow the digits. Decimal values must lie
/// in the signed 32-bit range; hexadecimal ones are 32-bit patterns, so
/// "$FFFFFFAB" is -85 and only a value above $FFFFFFFF is too large.
/// Throws EConvertError "'%s' is not a valid integer value" otherwise.
std::int32_t StrToInt(std::string_view text);

/// As StrToInt, but gives no value instead of throwing.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

/// Removes leading and trailing characters with codes up to 32 (blanks and
/// control characters).
std::string Trim(std::string_view text);

/// A duration in seconds as the user reads them: "300", "1.5", "0.001".
std::string SecondsText(std::chrono::milliseconds time);

/// Letters a to z turned into A to Z; every other byte unchanged.
std::string UpperCase(std::string_view text);
/// The same with the letters A to Z made a to z.
std::string LowerCase(std::string_view text);

/// Compares two texts ignoring the letter case of a to z.
bool SameText(std::string_view a, std::string_view b);

/// The text with its control characters written as escapes, for a terminal
/// or a line-oriented output, where a peer's or a file name's bytes must
/// stay data: tab, line feed and carriage return as \t, \n and \r, the
/// other C0 controls and DEL as \x and two hexadecimal digits, and so
/// every byte of a C1 control, whether UTF-8 encoded (0xC2 0x80 to 0xC2 0x9F)
/// or a lone byte 0x80 to 0x9F outside a UTF-8 sequence. Every other byte,
/// backslashes and valid UTF-8 included, is kept as it is, so a text without
/// control characters comes back unchanged.
std::string EscapeControls(std::string_view text);
