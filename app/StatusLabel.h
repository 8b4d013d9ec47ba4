// The status label's rules, the same in every window: its colour in either
// tone on any palette, a reason's words before its number, and its place in
// the strip under the log with the text cut short only at its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/RunOutcome.h"

/// The status label's colour: normal, or the error colour of a run that
/// did not succeed.
enum class TStatusTone { stNormal, stError };

/// A colour as its red, green and blue parts.
struct TRgb {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

/// The status label's colour in tone on a window of colour background, one
/// that reads there (a WCAG 2 contrast of 4.5 at least) on a light palette
/// and on a dark one alike. The normal tone is link, the palette's own link
/// colour, where it reads, else the blue that reads best; the error tone is
/// the red that reads best.
TRgb StatusColour(TStatusTone tone, TRgb background, std::optional<TRgb> link = std::nullopt);

/// A reason in the order a label that is cut short at its end should keep
/// it: one that begins with the system's number ("Send request failed with
/// error 12029 A connection with the server could not be established.",
/// "Socket Error # 10061 Connection refused.") has its words first and the
/// number after them ("A connection with the server could not be established
/// (Send request failed with error 12029)"); any other is as it was.
std::string WordsFirst(std::string_view reason);

/// The status label's text at a run's end: OutcomeStatus with the reason's
/// words first (WordsFirst). The log keeps OutcomeLine, as it was.
std::string StatusOfOutcome(const TRunOutcome& outcome);

/// The status label's place in the strip under the log, in the window's
/// units: Left and Width, and whether its text is cut short (the window
/// elides it, the log holding every outcome whole).
struct TStatusPlace {
    int Left = 0;
    int Width = 0;
    bool Elided = false;
};

/// Where a status textWidth wide goes: at home, its place in the layout,
/// when it fits between home and right, the strip's right end; else ending
/// at right and reaching as far left as it needs, but never left of
/// farthestLeft (the strip's start, or home while the transfer bar is shown
/// to its left).
TStatusPlace StatusPlace(int textWidth, int home, int farthestLeft, int right);
