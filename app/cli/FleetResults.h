// The end of a fleet run: each unit's row, the table printed from the rows,
// and the results file, the same rows as JSON, written whole or not at all;
// and the check, before any unit is touched, that the results file can be
// written and is no file the run needs. Nothing here runs or reads a unit.
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

/// Throws (the message says why) unless path can be the results file: a
/// regular file, opened for writing without truncating it, or a new file
/// whose folder takes it; never a pipe or a device, which could hold up the
/// run's end or lose the file, and nothing in imageFolder or below it, where
/// the file could replace an image, nor one of inputs (the run's address
/// list, its manifest), which it would replace. Changes no file.
void CheckResultsFile(const std::string& path, const std::string& imageFolder,
                      const std::vector<std::string>& inputs = {});

/// Writes the results file whole or not at all (ResultJson); throws when it
/// cannot, a path that is now a pipe or a device included, without waiting
/// on it.
void WriteResultsFile(const std::string& path, const std::vector<TUnitResult>& results);
