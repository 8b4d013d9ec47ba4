// The status label's rules without a window: a reason's words before its
// number, a colour that reads on light and dark palettes, and the place of a
// text in the strip under the log.
#include "app/StatusLabel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

/// WCAG 2's contrast ratio, worked out here from its definition.
double ContrastRatio(TRgb a, TRgb b) {
    const auto luminance = [](TRgb c) {
        const auto linear = [](std::uint8_t v) {
            const double x = v / 255.0;
            return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.Red) + 0.7152 * linear(c.Green) + 0.0722 * linear(c.Blue);
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(StatusOfOutcome, PutsTheWordsOfAReasonBeforeItsNumber) {
    struct TRow {
        std::string reason, status;
    };
    const TRow rows[] = {
        {"Send request failed with error 12029 A connection with the server could not be "
         "established.",
         "Failed at connect: A connection with the server could not be established (Send request "
         "failed with error 12029)"},
        {"Socket Error # 10061\r\nConnection refused.",
         "Failed at connect: Connection refused (Socket Error # 10061)"},
        // No number, or a number that is no error's, or one without words.
        {"Access violation", "Failed at connect: Access violation"},
        {"Request timed out after 4000 ms", "Failed at connect: Request timed out after 4000 ms"},
        {"the unit did not report hardware revision 171 within 300 s (last poll: Send request "
         "failed with error 12029 A connection)",
         "Failed at connect: the unit did not report hardware revision 171 within 300 s (last "
         "poll: Send request failed with error 12029 A connection)"},
        {"Send request failed with error 12152", "Failed at connect: Send request failed with "
                                                 "error 12152"},
        {"I/O error 5", "Failed at connect: I/O error 5"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.reason);
        TRunOutcome outcome;
        outcome.Reason = row.reason;
        EXPECT_EQ(StatusOfOutcome(outcome), row.status);
    }
}

TEST(StatusColour, ReadsOnLightAndDarkPalettesAndKeepsALinkColourThatReads) {
    struct TRow {
        const char* palette;
        TRgb background;
        std::optional<TRgb> link;
        bool linkKept;
    };
    const TRow rows[] = {
        {"white, no link colour", {0xff, 0xff, 0xff}, std::nullopt, false},
        {"Fusion light", {0xef, 0xef, 0xef}, TRgb{0x00, 0x00, 0xff}, true},
        {"Fusion dark, its own link", {0x35, 0x35, 0x35}, TRgb{0x2a, 0x82, 0xda}, false},
        {"dark that kept the light blue", {0x1e, 0x1e, 0x1e}, TRgb{0x00, 0x00, 0xff}, false},
        {"dark with a light link", {0x1e, 0x1e, 0x1e}, TRgb{0x8a, 0xb4, 0xf8}, true},
        {"black", {0x00, 0x00, 0x00}, std::nullopt, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.palette);
        const TRgb normal = StatusColour(TStatusTone::stNormal, row.background, row.link);
        const TRgb error = StatusColour(TStatusTone::stError, row.background, row.link);
        EXPECT_GE(ContrastRatio(normal, row.background), 4.5);
        EXPECT_GE(ContrastRatio(error, row.background), 4.5);
        EXPECT_EQ(row.link && normal == *row.link, row.linkKept);
        // The error tone is a red: red leads both other parts.
        EXPECT_GT(error.Red, std::max(error.Green, error.Blue));
    }
}

TEST(StatusPlace, AtHomeWhenItFitsElseEndingAtTheRightAndCutShortOnlyThere) {
    struct TRow {
        int width, home, farthestLeft, right;
        TStatusPlace place;
    };
    const TRow rows[] = {
        {100, 200, 8, 500, {200, 100, false}},  // fits at home
        {300, 200, 8, 500, {200, 300, false}},  // fills its place exactly
        {350, 200, 8, 500, {150, 350, false}},  // reaches left to stay whole
        {600, 200, 8, 500, {8, 492, true}},     // wider than the strip
        {350, 200, 200, 500, {200, 300, true}}, // the transfer bar keeps it home
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.width);
        const TStatusPlace place = StatusPlace(row.width, row.home, row.farthestLeft, row.right);
        EXPECT_EQ(place.Left, row.place.Left);
        EXPECT_EQ(place.Width, row.place.Width);
        EXPECT_EQ(place.Elided, row.place.Elided);
    }
}
