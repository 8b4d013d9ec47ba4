// Start-up of the window's program before its window exists.
#include "app/qt/StartUp.h"

#include <CLI/CLI.hpp>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int NoDisplayStatus = 1;

QtMessageHandler toolkitHandler = nullptr;
QStringList heldMessages;

std::string DisplayName() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr ? display : "";
}

void HoldStartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        heldMessages.append(qFormatLogMessage(type, context, message));
        return;
    }
    // The only failure the toolkit meets before the window is the missing
    // display (no DISPLAY, or nothing answering on it).
    const std::string display = DisplayName();
    const std::string which = display.empty() ? "none is set (DISPLAY)"
                                              : "the display \"" + display + "\" cannot be opened";
    std::fprintf(stderr,
                 "tftp-loader: the window needs a display and %s; without one, run the headless "
                 "loader: tftp-loader-cli --address ADDRESS --folder FOLDER\n",
                 which.c_str());
    std::fflush(stderr);
    std::_Exit(NoDisplayStatus);
}

} // namespace

std::optional<int> HandleCommandLine(int argc, char** argv) {
    CLI::App app{"Opens the window that updates a unit over HTTP and TFTP. Without a display, "
                 "use tftp-loader-cli."};
    app.set_version_flag("--version", std::string("tftp-loader ") + LOADER_VERSION);
    app.allow_extras(); // the toolkit's own options (-style, -platform, ...)
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return std::nullopt;
}

TDisplayGuard::TDisplayGuard() {
    toolkitHandler = qInstallMessageHandler(HoldStartUpMessage);
}

TDisplayGuard::~TDisplayGuard() {
    qInstallMessageHandler(toolkitHandler);
    for (const QString& message : heldMessages)
        std::fprintf(stderr, "%s\n", qPrintable(message));
    heldMessages.clear();
}
