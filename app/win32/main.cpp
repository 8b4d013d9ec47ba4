// Start-up of the loader's window on Windows: the main window with its own
// task-bar button (the application title is set by the loader it creates),
// and the message loop until the window closes. Nothing is read or saved
// between runs.
#include <exception>

#include "app/win32/Tftftp_main.h"
#include "runtime/Console.h"
#include "runtime/WideText.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    OpenClosedStandardStreams();
    try {
        Tftftp_main ftftp_main;
        ftftp_main.Show();
        return ftftp_main.Run();
    } catch (const std::exception& e) {
        // Only what no handler could take comes here; the loader's failures
        // are shown by their handlers and the window goes on.
        MessageBoxW(nullptr, WideText(e.what()).c_str(), WideText(ApplicationTitleText).c_str(),
                    MB_OK | MB_ICONERROR);
        return 1;
    }
}
