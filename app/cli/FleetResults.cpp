// The fleet's table, its results file and the check of that file's path.
#include "app/cli/FleetResults.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"

namespace {

using TJson = nlohmann::ordered_json;

TJson TextOrNull(const std::string& text) {
    return text.empty() ? TJson() : TJson(text);
}

} // namespace

std::string ResultTable(const std::vector<TUnitResult>& results) {
    const std::vector<std::string> heads = {
        "address", "revision", "web-page image", "program image", "verified", "result", "seconds"};
    const auto dash = [](const std::string& text) {
        return text.empty() ? "-" : EscapeControls(text);
    };
    std::vector<std::vector<std::string>> rows;
    for (const TUnitResult& r : results) {
        const auto& verified = r.Verdict.Verified;
        rows.push_back({r.Address, r.Revision > 0 ? std::to_string(r.Revision) : "-", dash(r.Pages),
                        dash(r.Program), verified ? (*verified ? "yes" : "no") : "-",
                        EscapeControls(r.Verdict.Text), fmt::format("{:.1f}", r.Seconds)});
    }
    std::vector<std::size_t> widths;
    for (std::size_t c = 0; c < heads.size(); ++c) {
        widths.push_back(heads[c].size());
        for (const auto& row : rows)
            widths[c] = std::max(widths[c], row[c].size());
    }
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c)
            text += c + 1 < cells.size() ? fmt::format("{:<{}}  ", cells[c], widths[c])
                                         : fmt::format("{:>{}}", cells[c], widths[c]);
        return text + "\n";
    };
    std::string table = "\n";
    table += line(heads);
    for (const auto& row : rows)
        table += line(row);
    return table;
}

std::string ResultJson(const std::vector<TUnitResult>& results) {
    auto table = TJson::array();
    for (const TUnitResult& r : results) {
        const TUnitVerdict& v = r.Verdict;
        table.push_back({
            {"address", r.Address},
            {"revision", r.Revision > 0 ? TJson(r.Revision) : TJson()},
            {"web_page_image", TextOrNull(r.Pages)},
            {"program_image", TextOrNull(r.Program)},
            {"step", v.Step ? TJson(StepName(*v.Step)) : TJson()},
            {"outcome", v.Result ? ResultName(*v.Result) : "not started"},
            {"result", v.Text},
            {"seconds", std::round(r.Seconds * 1000) / 1000},
            {"succeeded", v.Succeeded()},
            {"verified", v.Verified ? TJson(*v.Verified) : TJson()},
            {"web_page_sha256", TextOrNull(v.PagesSha256)},
            {"program_sha256", TextOrNull(v.ProgramSha256)},
        });
    }
    // Image names are bytes in whatever encoding their folder has; JSON
    // wants UTF-8, so what is not UTF-8 shows as replacement characters.
    return table.dump(2, ' ', false, TJson::error_handler_t::replace) + '\n';
}

void CheckResultsFile(const std::string& path, const std::string& imageFolder,
                      const std::vector<std::string>& inputs) {
    if (PathInFolder(path, imageFolder))
        throw Exception(fmt::format("{} is in the image folder {}, whose images it could replace",
                                    path, imageFolder));
    // A file is "in" a folder that is itself: the same file.
    for (const std::string& input : inputs)
        if (!input.empty() && PathInFolder(path, input))
            throw Exception(fmt::format("{} is {}, which the run reads", path, input));
    CheckWritable(path, TSpecialTarget::tgRefuse);
}

void WriteResultsFile(const std::string& path, const std::vector<TUnitResult>& results) {
    WriteFileWhole(path, ResultJson(results), TSpecialTarget::tgRefuse);
}
