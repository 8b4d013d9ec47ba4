// The status lines below a fleet's log: what each running unit shows, and
// how a fleet of any size stays within a terminal that can redraw them.
#include "app/cli/FleetConsole.h"

#include <gtest/gtest.h>

namespace {

std::vector<TUnitStatus> Units(std::size_t count) {
    std::vector<TUnitStatus> units;
    for (std::size_t i = 0; i < count; ++i)
        units.push_back({"127.000.000." + std::to_string(100 + i), "Wait"});
    return units;
}

} // namespace

TEST(StatusLines, ShowEachUnitWithinTheTerminal) {
    struct Row {
        const char* name;
        std::vector<TUnitStatus> units;
        std::vector<std::string> lines;
    };
    std::vector<std::string> twelve;
    for (const auto& unit : Units(11))
        twelve.push_back(unit.Address + ": Wait");
    const auto withLast = [&](const std::string& last) {
        auto lines = twelve;
        lines.push_back(last);
        return lines;
    };
    const std::vector<Row> rows = {
        {"a transfer's share",
         {{"127.000.000.002", "1468", 1468, 7000}},
         {"127.000.000.002: 1468 (20%)"}},
        {"a unit's text escaped",
         {{"127.000.000.002", "Disk \x1b[2J", 0, 0}},
         {"127.000.000.002: Disk \\x1b[2J"}},
        {"a long text cut at 79 columns",
         {{"127.000.000.002", std::string(100, 'x'), 0, 0}},
         {"127.000.000.002: " + std::string(79 - 17, 'x')}},
        {"twelve units", Units(12), withLast("127.000.000.111: Wait")},
        {"more than twelve", Units(300), withLast("and 289 more units running")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(StatusLines(row.units), row.lines);
    }
}
