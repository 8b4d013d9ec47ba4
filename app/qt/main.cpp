// Start-up of the loader's window: the toolkit, the application's name, the
// main window, and the message loop until the window closes. Nothing is read
// or saved between runs.
#include <QApplication>

#include "app/qt/Tftftp_main.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The window is a top-level one, so it has its own task-bar entry.
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitleText));
    Tftftp_main ftftp_main;
    ftftp_main.show();
    return QApplication::exec();
}
