#include "runtime/Convert.h"

#include <algorithm>
#include <fmt/format.h>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

bool IsBlank(char c) {
    return c == ' ';
}

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

/// The length of the well-formed UTF-8 sequence of two to four bytes that
/// starts at text[at] (RFC 3629: no overlong forms, no surrogates, nothing
/// above U+10FFFF); 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

/// True for one character (a byte, or a UTF-8 sequence) that a terminal
/// takes as a control: C0, DEL, and C1 (U+0080 to U+009F), which an 8-bit
/// terminal also takes from a lone byte 0x80 to 0x9F.
bool IsControl(std::string_view character) {
    const auto first = static_cast<unsigned char>(character[0]);
    if (character.size() == 1)
        return first < 0x20 || (first >= 0x7F && first <= 0x9F);
    return first == 0xC2 && static_cast<unsigned char>(character[1]) <= 0x9F;
}

void AppendHexEscape(std::string& out, unsigned char c) {
    constexpr char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

} // namespace

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate in 64 bits; stopping past 2^32 keeps it far from overflow.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            return std::nullopt;
        value = value * base + d;
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal digits spell a 32-bit pattern: "$FFFFFFAB" is -85, as a
        // unit that prints its revision as a raw register writes it.
        const auto pattern = static_cast<std::uint32_t>(value);
        return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t StrToInt(std::string_view text) {
    if (auto v = TryStrToInt(text))
        return *v;
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
}

std::string Trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32)
        --e;
    return std::string(text.substr(b, e - b));
}

std::string SecondsText(std::chrono::milliseconds time) {
    return fmt::format("{:g}", static_cast<double>(time.count()) / 1000);
}

namespace {

/// The text with the ASCII letters from `first` to `first + 25` moved to
/// the other case; every other byte unchanged.
std::string SwapLetterCase(std::string_view text, char first) {
    constexpr int kCaseDistance = 'a' - 'A';
    const int shift = first == 'a' ? -kCaseDistance : kCaseDistance;
    std::string s(text);
    for (char& c : s)
        if (c >= first && c <= first + 25)
            c = static_cast<char>(c + shift);
    return s;
}

} // namespace

std::string UpperCase(std::string_view text) {
    return SwapLetterCase(text, 'a');
}

std::string LowerCase(std::string_view text) {
    return SwapLetterCase(text, 'A');
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A lone byte above 0x7F is one character of an 8-bit text.
        const std::size_t length =
            c < 0x80 ? 1 : std::max<std::size_t>(Utf8SequenceLength(text, i), 1);
        const std::string_view character = text.substr(i, length);
        i += length;
        if (!IsControl(character))
            out += character;
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            for (const char byte : character)
                AppendHexEscape(out, static_cast<unsigned char>(byte));
    }
    return out;
}
