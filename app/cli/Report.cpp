// The record format of a unit's report: a name, a blank and the text, with
// "\\", "\n", "\r" and "\0" standing for a backslash, a line feed, a
// carriage return and a NUL, so that a record is always one line whatever its
// text holds, and the whole text reaches the fleet.
#include "app/cli/Report.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<TReportKind, std::string_view>, 15> Names{{
    {TReportKind::rcLog, "log"},
    {TReportKind::rcStatus, "status"},
    {TReportKind::rcProgress, "progress"},
    {TReportKind::rcError, "error"},
    {TReportKind::rcRevision, "revision"},
    {TReportKind::rcPages, "pages"},
    {TReportKind::rcProgram, "program"},
    {TReportKind::rcReached, "reached"},
    {TReportKind::rcRun, "run"},
    {TReportKind::rcStep, "step"},
    {TReportKind::rcReason, "reason"},
    {TReportKind::rcVerified, "verified"},
    {TReportKind::rcPagesSha256, "pages-sha256"},
    {TReportKind::rcProgramSha256, "program-sha256"},
    {TReportKind::rcResult, "result"},
}};

} // namespace

std::string ReportLine(TReportKind kind, std::string_view text) {
    std::string line;
    for (const auto& [k, name] : Names)
        if (k == kind)
            line = name;
    line += ' ';
    for (const char c : text) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\0':
            line += "\\0";
            break;
        default:
            line += c;
        }
    }
    return line + '\n';
}

std::optional<TReportRecord> ParseReportLine(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = line.substr(0, blank);
    for (const auto& [kind, known] : Names) {
        if (known != name)
            continue;
        TReportRecord record{kind, {}};
        for (std::size_t i = blank + 1; i < line.size(); ++i) {
            if (line[i] != '\\' || i + 1 == line.size()) {
                record.Text += line[i];
                continue;
            }
            const char escaped = line[++i];
            record.Text += escaped == 'n'   ? '\n'
                           : escaped == 'r' ? '\r'
                           : escaped == '0' ? '\0'
                                            : escaped;
        }
        return record;
    }
    return std::nullopt;
}
