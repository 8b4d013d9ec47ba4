// The program's text on Windows: the arguments from the 16-bit command line,
// split as the C runtime splits it, and a console's output code page set to
// UTF-8 for the program's run.
#include "runtime/ProgramText.h"

#include <windows.h>

#include <cstdlib>
#include <shellapi.h>

#include "runtime/WideText.h"

namespace {

/// The console's own output code page, given back when the program ends.
UINT gConsoleCodePage = 0;

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(gConsoleCodePage);
}

bool IsConsole(DWORD stream) {
    DWORD mode = 0;
    const HANDLE h = ::GetStdHandle(stream);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) // out of memory: the code page's arguments are all there is
        return {argv, argv + argc};
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        args.push_back(Utf8Text(wide[i]));
    ::LocalFree(wide);
    return args;
}

void UseUtf8Console() {
    if (gConsoleCodePage != 0 || (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE)))
        return;
    const UINT own = ::GetConsoleOutputCP();
    if (own == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8))
        return;
    // The console outlives the program (a command prompt's): it gets its
    // own code page back.
    gConsoleCodePage = own;
    std::atexit(&RestoreConsoleCodePage);
}
