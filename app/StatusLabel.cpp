// The status label's rules: colour, words first, place.
#include "app/StatusLabel.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "runtime/Convert.h"

namespace {

/// WCAG 2's relative luminance of a colour.
double Luminance(TRgb c) {
    const auto channel = [](std::uint8_t value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.Red) + 0.7152 * channel(c.Green) + 0.0722 * channel(c.Blue);
}

/// WCAG 2's contrast ratio of two colours, 1 to 21.
double Contrast(TRgb a, TRgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

/// Of a colour for light windows and one for dark windows, the one that
/// stands out more on background.
TRgb BetterOn(TRgb background, TRgb forLight, TRgb forDark) {
    return Contrast(forLight, background) >= Contrast(forDark, background) ? forLight : forDark;
}

} // namespace

TRgb StatusColour(TStatusTone tone, TRgb background, std::optional<TRgb> link) {
    constexpr double Readable = 4.5; // WCAG 2 contrast for normal text
    if (tone == TStatusTone::stError)
        return BetterOn(background, {0xc0, 0x00, 0x00}, {0xff, 0x80, 0x80});
    // A dark palette may keep the light one's pure blue as its link colour.
    if (link && Contrast(*link, background) >= Readable)
        return *link;
    return BetterOn(background, {0x00, 0x00, 0xff}, {0x6c, 0xb4, 0xff});
}

std::string WordsFirst(std::string_view reason) {
    const std::size_t digits = reason.find_first_of("0123456789");
    if (digits == std::string_view::npos)
        return std::string(reason);
    const std::size_t after = reason.find_first_not_of("0123456789", digits);
    // The number of an error ("... error 12029", "Error # 10061") with words after it.
    std::string lead = UpperCase(reason.substr(0, digits));
    if (after == std::string_view::npos || reason[after] != ' ' || after + 1 == reason.size() ||
        !std::isalpha(static_cast<unsigned char>(reason[after + 1])) ||
        lead.find("ERROR") == std::string::npos)
        return std::string(reason);
    std::string_view words = reason.substr(after + 1);
    if (words.back() == '.')
        words.remove_suffix(1);
    return std::string(words) + " (" + std::string(reason.substr(0, after)) + ")";
}

std::string StatusOfOutcome(const TRunOutcome& outcome) {
    TRunOutcome wordsFirst = outcome;
    wordsFirst.Reason = WordsFirst(OneLine(outcome.Reason));
    return OutcomeStatus(wordsFirst);
}

TStatusPlace StatusPlace(int textWidth, int home, int farthestLeft, int right) {
    if (home + textWidth <= right)
        return {home, textWidth, false};
    const int left = std::max(farthestLeft, right - textWidth);
    return {left, right - left, textWidth > right - left};
}
