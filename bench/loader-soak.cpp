// loader-soak: one loader process running many uploads against a unit, for
// the growth of its descriptors and memory. It drives TLoader as the
// headless front end does (Connect once, then Upload again and again) and
// prints, after Connect, after the first upload, every hundred uploads and
// at the end: uploads done, failed ones, and the open descriptors and
// resident memory of itself and, when given, of the unit's process. Log
// lines go to stdout, the figures to stderr. Linux (/proc) and loopback only.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Loader.h"
#include "app/cli/CliWindow.h"

namespace {

/// Open descriptors and resident KiB of a process ("self" or a pid); -1
/// when it cannot be read.
std::pair<long, long> Figures(const std::string& process) {
    const std::filesystem::path proc = "/proc/" + process;
    long descriptors = -1, rssKiB = -1;
    std::error_code error;
    std::filesystem::directory_iterator fds(proc / "fd", error);
    if (!error)
        descriptors = std::distance(fds, std::filesystem::directory_iterator());
    std::ifstream status(proc / "status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            rssKiB = std::stol(line.substr(6));
    return {descriptors, rssKiB};
}

/// One line of figures: uploads so far, and descriptors and memory of the
/// loader and of the unit's process when given.
std::string FiguresLine(const std::string& when, int uploads, int failed,
                        const std::string& unitPid) {
    const auto [fds, rss] = Figures("self");
    char line[160];
    std::snprintf(line, sizeof line, "%-13s uploads %5d failed %3d   loader: fds %3ld rss %6ld KiB",
                  when.c_str(), uploads, failed, fds, rss);
    std::string text = line;
    if (!unitPid.empty()) {
        const auto [unitFds, unitRss] = Figures(unitPid);
        std::snprintf(line, sizeof line, "   unit: fds %3ld rss %6ld KiB", unitFds, unitRss);
        text += line;
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    std::string address, folder, unitPid;
    int count = 1000;
    CLI::App app{"Runs COUNT uploads in one loader process and prints its descriptors and memory."};
    app.add_option("--address", address, "The unit's address (127.x.y.z)")->required();
    app.add_option("--folder", folder, "The image folder")
        ->required()
        ->check(CLI::ExistingDirectory);
    app.add_option("--count", count, "Uploads to run")->capture_default_str();
    app.add_option("--unit-pid", unitPid, "The unit's process, to report its figures too");
    CLI11_PARSE(app, argc, argv);
    const auto masked = MaskedAddressText(address);
    if (!masked || address.rfind("127.", 0) != 0) {
        std::fprintf(stderr, "loader-soak: %s is not a loopback address\n", address.c_str());
        return 2;
    }

    TCliWindow window(false);
    TLoader loader(window);
    window.OnDirEditChange = [&loader] { loader.direditChange(); };
    window.OnInterrupt = [&loader] { loader.Cancel(); };
    window.Address = *masked;
    window.SetDirEditText(folder);
    loader.connectbutClick();
    if (loader.HardwareRevision == 0 || window.ErrorShown()) {
        std::fprintf(stderr, "loader-soak: no unit at %s\n", address.c_str());
        return 1;
    }
    // Through the window, so that a status line on a terminal stays apart.
    const auto report = [&](const std::string& when, int uploads, int failed) {
        window.WriteLine(TConsoleStream::csError, FiguresLine(when, uploads, failed, unitPid));
    };
    report("after Connect", 0, 0);
    int failed = 0, done = 0;
    while (done < count && !loader.Cancelled()) {
        loader.uploadbutClick();
        if (loader.Cancelled())
            break;
        ++done;
        if (window.Lines().empty() || window.Lines().back() != "Update successful")
            ++failed;
        if (done == 1 || done % 100 == 0)
            report(done == 1 ? "first upload" : "", done, failed);
    }
    report("end", done, failed);
    return failed == 0 && done == count ? 0 : 1;
}
