// Start-up of the loader's window: the command line, the toolkit, the
// application's name, the main window, and the message loop until the window
// closes. Nothing is read or saved between runs.
#include <QApplication>
#include <memory>

#include "app/qt/StartUp.h"
#include "app/qt/Tftftp_main.h"
#include "runtime/Console.h"

int main(int argc, char* argv[]) {
    OpenClosedStandardStreams();
    if (const auto status = HandleCommandLine(argc, argv))
        return *status;
    auto guard = std::make_unique<TDisplayGuard>();
    QApplication app(argc, argv);
    guard.reset();
    // The window is a top-level one, so it has its own task-bar entry; the
    // desktop file names the program and its icon.
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitleText));
    QGuiApplication::setDesktopFileName(QStringLiteral("tftp-loader"));
    Tftftp_main ftftp_main;
    ftftp_main.show();
    return QApplication::exec();
}
