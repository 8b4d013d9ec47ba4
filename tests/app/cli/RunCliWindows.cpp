// RunCli on Windows: CreateProcess with stdout on a pipe and stderr in a
// file, the bound on the run time as a wait and TerminateProcess. The
// program writes its lines in text mode, so each ends in CR LF here; they
// come back with line feeds alone. A Ctrl-C needs a console shared with the
// program, which the tests do not have.
#include <windows.h>

#include <sstream>

#include "tests/app/cli/RunCli.h"
#include "tests/support/ImageFolder.h"

namespace {

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

} // namespace

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(WithoutCarriageReturns(text));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TRun RunCli(const std::string& args, TRunEnd, bool) {
    TTempFolder scratch;
    const std::string errPath = scratch.Path() + "stderr";
    TRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readOut = nullptr, writeOut = nullptr;
    if (!::CreatePipe(&readOut, &writeOut, &inherit, 0))
        return run;
    ::SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    const HANDLE err = ::CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE in = ::CreateFileA("NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = writeOut;
    startup.hStdError = err;
    std::string command = "\"" + std::string(LOADER_CLI_PATH) + "\" " + args;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(writeOut);
    ::CloseHandle(err);
    ::CloseHandle(in);
    if (!started) {
        ::CloseHandle(readOut);
        return run;
    }
    std::string out;
    char buffer[4096];
    for (DWORD n = 0; ::ReadFile(readOut, buffer, sizeof buffer, &n, nullptr) && n > 0;)
        out.append(buffer, n);
    ::CloseHandle(readOut);
    if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
        ::TerminateProcess(process.hProcess, 255);
    DWORD status = 255;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    run.Status = static_cast<int>(status);
    run.Out = SplitLines(out);
    const auto errBytes = FileBytes(errPath);
    run.Err = WithoutCarriageReturns(std::string(errBytes.begin(), errBytes.end()));
    return run;
}
