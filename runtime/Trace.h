// The last word of code that may not throw: a failure that a destructor or a
// callback cannot pass on is written as a trace line rather than dropped.
// The program may route the lines (a window's trace); by default they go to
// the error stream.
#pragma once

#include <functional>
#include <string>
#include <string_view>

/// Where trace lines go from now on; none: the error stream.
void SetTraceSink(std::function<void(const std::string& line)> sink);

/// Writes text as one trace line; never throws.
void TraceLine(std::string_view text) noexcept;

/// TraceLine of "what: " and the text of the exception being handled (its
/// what(), or "unknown failure"). Call only inside a catch block.
void TraceCurrentException(std::string_view what) noexcept;
