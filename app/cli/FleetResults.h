// The end of a fleet run: each unit's row, the table printed from the rows,
// and the results file's text, the same rows as JSON. Nothing here runs or
// reads a unit.
#pragma once

#include <string>
#include <vector>

#include "app/cli/UnitVerdict.h"

/// One unit's row of the table and of the results file.
struct TUnitResult {
    std::string Address;
    /// 0 when no unit answered.
    int Revision = 0;
    /// The images chosen for the unit; empty for none.
    std::string Pages, Program;
    TUnitVerdict Verdict;
    double Seconds = 0;
};

/// The table, one row a unit, columns aligned, after an empty line: address,
/// revision, images, verified ("yes", "no", "-" when not asked), result and
/// seconds; the texts a unit or a file name supplies escaped.
std::string ResultTable(const std::vector<TUnitResult>& results);

/// The results file's text: a JSON array of one object a unit, null for
/// what it does not have ("verified" when not asked, a digest of an image
/// not sent).
std::string ResultJson(const std::vector<TUnitResult>& results);
