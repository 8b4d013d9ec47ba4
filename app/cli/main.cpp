// tftp-loader-cli: the loader without a screen. Parses the arguments, plays
// the user's part (address, folder, Connect, the list choices, Upload) on a
// TCliWindow, and turns the outcome into the exit status.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "app/Loader.h"
#include "app/cli/CliWindow.h"
#include "net/IdComponent.h"

namespace {

enum TExitStatus { esDone = 0, esFailed = 1, esUsage = 2, esInterrupted = 130 };

/// The longest --wait-limit, in seconds (about 30 years): the give-up time
/// must stay within the clock's range, or the wait would end at once.
constexpr double MaxWaitLimit = 1e9;

struct TOptions {
    std::string Address = DefaultAddress;
    std::string Folder;
    std::string Pages, Program;
    bool NoPages = false, NoProgram = false;
    bool List = false;
    bool Trace = false;
    double WaitLimit = 300;
    std::int32_t Retries = 0;
};

/// The network library's idle hook: a transfer's wait for the unit is cut
/// into quarter-second slices, and between them a Ctrl-C is taken and ends
/// the transfer, the unit told, instead of after the reply's time-out.
class TCliAntiFreeze : public TIdAntiFreezeBase {
public:
    TCliAntiFreeze(TCliWindow& window, TLoader& loader) : window_(window), loader_(loader) {}
    void ProcessEvents() override {
        window_.PumpMessages();
        loader_.AbortCancelledTransfer();
    }

private:
    TCliWindow& window_;
    TLoader& loader_;
};

/// Selects the entry named name (when given) or none; false when the name
/// is not in the list.
bool Choose(TCliWindow& window, TImageList list, const std::string& name, bool none) {
    if (none) {
        window.SetListItemIndex(list, -1);
        return true;
    }
    if (name.empty())
        return true;
    const auto& entries = window.Entries(list);
    const auto it = std::find(entries.begin(), entries.end(), name);
    if (it == entries.end())
        return false;
    window.SetListItemIndex(list, static_cast<int>(it - entries.begin()));
    return true;
}

int Run(const TOptions& options) {
    TCliWindow window(options.Trace);
    TLoader loader(window);
    window.OnDirEditChange = [&loader] { loader.direditChange(); };
    window.OnInterrupt = [&loader] { loader.Cancel(); };
    TCliAntiFreeze antiFreeze(window, loader);
    window.Address = *MaskedAddressText(options.Address);
    loader.WaitLimit =
        std::chrono::milliseconds(static_cast<std::int64_t>(options.WaitLimit * 1000));
    loader.IdTrivialFTP1.SetRetransmissions(options.Retries);

    const auto outcome = [&window]() -> std::optional<int> {
        if (window.Interrupted())
            return esInterrupted;
        if (window.ErrorShown())
            return esUsage;
        return std::nullopt;
    };

    if (!options.Folder.empty())
        window.SetDirEditText(options.Folder);
    if (auto status = outcome())
        return *status;
    loader.connectbutClick();
    if (auto status = outcome())
        return *status;
    if (loader.HardwareRevision == 0)
        return esFailed;

    if (!Choose(window, TImageList::ilWebPages, options.Pages, options.NoPages)) {
        std::fprintf(stderr, "--pages: %s is not a web page image of the folder\n",
                     options.Pages.c_str());
        return esUsage;
    }
    if (!Choose(window, TImageList::ilPrograms, options.Program, options.NoProgram)) {
        std::fprintf(stderr, "--program: %s is not a program image of the folder\n",
                     options.Program.c_str());
        return esUsage;
    }
    if (options.List) {
        for (const auto& name : window.Entries(TImageList::ilWebPages))
            std::printf("web page image: %s\n", name.c_str());
        for (const auto& name : window.Entries(TImageList::ilPrograms))
            std::printf("program image: %s\n", name.c_str());
        return esDone;
    }

    loader.uploadbutClick();
    window.EndStatus();
    if (auto status = outcome())
        return *status;
    const auto& lines = window.Lines();
    return !lines.empty() && lines.back() == "Update successful" ? esDone : esFailed;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    CLI::App app{"Updates a unit over HTTP and TFTP without a window: connects, scans the "
                 "image folder and uploads the chosen web-page and program images."};
    app.set_version_flag("--version", std::string("tftp-loader-cli ") + LOADER_VERSION);
    app.add_option("--address", options.Address, "The unit's IPv4 address")
        ->capture_default_str()
        ->check([](const std::string& text) {
            return MaskedAddressText(text) ? std::string()
                                           : "four groups of 1 to 3 digits, each 0 to 255";
        });
    app.add_option("--folder", options.Folder, "The image folder (default: the program's folder)");
    auto* pages = app.add_option("--pages", options.Pages, "The web page image to upload");
    auto* program = app.add_option("--program", options.Program, "The program image to upload");
    app.add_flag("--no-pages", options.NoPages, "Upload no web page image")->excludes(pages);
    app.add_flag("--no-program", options.NoProgram, "Upload no program image")->excludes(program);
    app.add_flag("--list", options.List, "Connect and list the images only");
    app.add_flag("--trace", options.Trace, "Show the trace on stderr");
    app.add_option("--retries", options.Retries,
                   "Re-sends of a TFTP packet whose reply does not come (0: each is sent once)")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000));
    app.add_option("--wait-limit", options.WaitLimit,
                   "Seconds to wait for the unit to come back after a reboot")
        ->capture_default_str()
        ->check([](const std::string& text) {
            double seconds = -1;
            CLI::detail::lexical_cast(text, seconds);
            // Written so that "nan" fails too.
            return seconds >= 0 && seconds <= MaxWaitLimit ? std::string()
                                                           : "a number of seconds from 0 to 1e9";
        });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? esDone : esUsage;
    }
    return Run(options);
}
