// Child programs on Windows: CreateProcessW with the child's streams on
// anonymous pipes, PeekNamedPipe before every read so that no read waits,
// Ctrl-Break to the child's own process group for Ctrl-C, and the exit code
// taken without waiting. Every process call of the program on Windows is
// here; nothing but the platform's side of Process.h belongs in this file.
#include "runtime/Process.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

/// What a killed child reports: what a shell shows for a program ended by
/// SIGKILL, so that a front end tells it from the program's own verdicts.
constexpr UINT KilledStatus = 128 + 9;

/// What a shell shows for a program that Ctrl-C ended.
constexpr int InterruptedStatus = 128 + 2;

HANDLE Win32Handle(const TFileHandle& file) {
    return reinterpret_cast<HANDLE>(file.Get());
}

HANDLE ProcessHandle(process_t process) {
    return reinterpret_cast<HANDLE>(process);
}

std::size_t IndexOf(TChildStream stream) {
    return stream == TChildStream::csOutput ? 0 : 1;
}

[[noreturn]] void RaiseStartError(const std::string& program, DWORD systemError) {
    const int code = static_cast<int>(systemError);
    throw EOSError(Format("Cannot start %s. %s", program, SysErrorMessage(code)), code);
}

/// The program's 8-bit text as the system's UTF-16, by the ANSI code page,
/// as the system's own ...A functions read it.
std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), size);
    wide.resize(static_cast<std::size_t>(std::max(n, 0)));
    return wide;
}

/// One argument as the child's start-up code (CommandLineToArgvW and the C
/// runtime alike) reads it back: quoted when it holds a blank or a quote or
/// is empty; backslashes are literal except before a quote, so those
/// before a quote, and before the closing quote, are doubled.
std::wstring QuotedArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    for (auto c = arg.begin();; ++c) {
        std::size_t backslashes = 0;
        for (; c != arg.end() && *c == L'\\'; ++c)
            ++backslashes;
        if (c == arg.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (*c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        quoted.push_back(*c);
    }
    quoted.push_back(L'"');
    return quoted;
}

/// The whole command line. The program's own name is read up to its
/// closing quote, without backslash rules; a path holds no quote.
std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::wstring line = L"\"" + Wide(program) + L"\"";
    for (const std::string& arg : args)
        line += L" " + QuotedArgument(Wide(arg));
    return line;
}

/// A pipe whose write end the child inherits and whose read end stays the
/// parent's alone.
struct TPipe {
    TFileHandle Read, Write;
};

TPipe MakePipe(const std::string& program) {
    // The buffer takes a burst of output while the parent serves other children.
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, nullptr, 64 * 1024))
        RaiseStartError(program, ::GetLastError());
    TPipe pipe{TFileHandle(reinterpret_cast<file_t>(read)),
               TFileHandle(reinterpret_cast<file_t>(write))};
    if (!::SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        RaiseStartError(program, ::GetLastError());
    return pipe;
}

/// Owns the attribute list that names the only handles the child inherits,
/// so that a child started at the same moment by another thread cannot
/// take this one's pipe ends (and keep them open after it has ended).
class TInheritedHandles {
public:
    explicit TInheritedHandles(const std::vector<HANDLE>& handles) : handles_(handles) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_ = std::make_unique<char[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        list_ = list;
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         handles_.data(), handles_.size() * sizeof(HANDLE), nullptr,
                                         nullptr)) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~TInheritedHandles() {
        if (list_)
            ::DeleteProcThreadAttributeList(list_);
    }
    TInheritedHandles(const TInheritedHandles&) = delete;
    TInheritedHandles& operator=(const TInheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::unique_ptr<char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

/// The bytes waiting in pipe; false once it cannot be read any more (its
/// writer has closed it and all was read, or it broke).
bool Waiting(const TFileHandle& pipe, DWORD& bytes) {
    bytes = 0;
    return ::PeekNamedPipe(Win32Handle(pipe), nullptr, 0, nullptr, &bytes, nullptr) != 0;
}

} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args) {
    TPipe output = MakePipe(program);
    TPipe error = MakePipe(program);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE nothing =
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (nothing == INVALID_HANDLE_VALUE)
        RaiseStartError(program, ::GetLastError());
    const TFileHandle input(reinterpret_cast<file_t>(nothing));

    const TInheritedHandles inherited(
        {nothing, Win32Handle(output.Write), Win32Handle(error.Write)});
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nothing;
    startup.StartupInfo.hStdOutput = Win32Handle(output.Write);
    startup.StartupInfo.hStdError = Win32Handle(error.Write);
    startup.lpAttributeList = inherited.List();
    // A group of its own: Ctrl-C at the console reaches the parent alone,
    // and Ctrl-Break can be sent to this child without reaching the parent.
    DWORD flags = CREATE_NEW_PROCESS_GROUP;
    if (inherited.List())
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    const std::wstring application = Wide(program);
    std::wstring commandLine = CommandLine(program, args);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                          nullptr, nullptr, &startup.StartupInfo, &started))
        RaiseStartError(program, ::GetLastError());
    ::CloseHandle(started.hThread);
    process_ = reinterpret_cast<process_t>(started.hProcess);
    // The child's ends close with this scope: once the child has closed its
    // own, a read sees the end.
    streams_[0].emplace(std::move(output.Read));
    streams_[1].emplace(std::move(error.Read));
}

TChildProcess::~TChildProcess() {
    if (!status_) {
        Kill();
        ::WaitForSingleObject(ProcessHandle(process_), INFINITE);
    }
    ::CloseHandle(ProcessHandle(process_));
}

bool TChildProcess::Read(TChildStream stream, std::string& out) {
    auto& pipe = streams_[IndexOf(stream)];
    if (!pipe)
        return false;
    constexpr std::size_t Limit = 64 * 1024;
    char buffer[16 * 1024];
    for (std::size_t taken = 0; taken < Limit;) {
        DWORD waiting = 0;
        if (!Waiting(*pipe, waiting)) {
            // The end (ERROR_BROKEN_PIPE), or a pipe that can no longer be
            // read: either way nothing more will come from it.
            pipe.reset();
            return false;
        }
        if (waiting == 0)
            return true;
        DWORD n = 0;
        const DWORD want = std::min<DWORD>(waiting, sizeof buffer);
        if (!::ReadFile(Win32Handle(*pipe), buffer, want, &n, nullptr) || n == 0) {
            pipe.reset();
            return false;
        }
        out.append(buffer, n);
        taken += n;
    }
    return true;
}

bool TChildProcess::IsOpen(TChildStream stream) const {
    return streams_[IndexOf(stream)].has_value();
}

void TChildProcess::Interrupt() noexcept {
    // Ctrl-C is off in a group of its own; Ctrl-Break is not, and the
    // child's console handler takes it as Ctrl-C. The open handle keeps the
    // process id from naming another process.
    if (!status_)
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, ::GetProcessId(ProcessHandle(process_)));
}

void TChildProcess::Kill() noexcept {
    if (!status_)
        ::TerminateProcess(ProcessHandle(process_), KilledStatus);
}

std::optional<int> TChildProcess::Ended() {
    if (status_)
        return status_;
    if (::WaitForSingleObject(ProcessHandle(process_), 0) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(ProcessHandle(process_), &code))
        code = KilledStatus; // how it ended is lost
    // A program that Ctrl-C or Ctrl-Break ended without a handler of its own.
    status_ = code == static_cast<DWORD>(STATUS_CONTROL_C_EXIT) ? InterruptedStatus
                                                                : static_cast<int>(code);
    return status_;
}

void WaitForChildOutput(std::span<TChildProcess* const> children,
                        std::chrono::milliseconds timeout) {
    // An anonymous pipe cannot be waited on together with others: short
    // sleeps between looks, growing to 10 ms, keep the answer prompt and the
    // idle parent cheap.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (DWORD pause = 1;; pause = std::min<DWORD>(pause * 2, 10)) {
        for (TChildProcess* child : children)
            for (const auto& pipe : child->streams_) {
                DWORD waiting = 0;
                if (pipe && (!Waiting(*pipe, waiting) || waiting > 0))
                    return;
            }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        ::Sleep(static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), pause)));
    }
}

std::string RunningProgramFile() {
    // A path may be longer than MAX_PATH: the buffer grows until it fits.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring path(size, L'\0');
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (n == 0)
            return {};
        if (n < size) {
            const int wide = static_cast<int>(n);
            const int bytes =
                ::WideCharToMultiByte(CP_ACP, 0, path.data(), wide, nullptr, 0, nullptr, nullptr);
            std::string text(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
            ::WideCharToMultiByte(CP_ACP, 0, path.data(), wide, text.data(), bytes, nullptr,
                                  nullptr);
            return text;
        }
    }
    return {};
}
