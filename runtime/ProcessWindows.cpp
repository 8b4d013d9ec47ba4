// Child programs on Windows: CreateProcessW with the child's streams on named
// pipes whose parent ends are read with overlapped reads, one I/O completion
// port for every child of the program (as ninja's subprocess set keeps one),
// thread-pool waits on each child's process handle and on the held-interrupt
// event that post to that port, Ctrl-Break to the child's own process group
// for Ctrl-C, and the exit code taken without waiting. Every process call of
// the program on Windows is here; nothing but the platform's side of
// Process.h belongs in this file.
#include "runtime/Process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "runtime/Console.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/HeldInterrupts.h"
#include "runtime/WideText.h"

namespace {

/// What a killed child reports: what a shell shows for a program ended by
/// SIGKILL, so that a front end tells it from the program's own verdicts.
constexpr UINT KilledStatus = 128 + 9;

/// What a shell shows for a program that Ctrl-C ended.
constexpr int InterruptedStatus = 128 + 2;

/// Names the parent in the child's environment, for EndWithParent.
constexpr std::string_view ParentVariable = "LOADER_PARENT_PROCESS";

/// What one read of a pipe takes at most; also the pipe's buffer, which
/// takes a burst of output while the parent serves other children.
constexpr DWORD PipeBuffer = 64 * 1024;

/// The key of the packets that only say "look again" (a child's end, a held
/// interrupt); a pipe's packets carry the key of its reader.
constexpr ULONG_PTR WakeKey = 0;

HANDLE Win32Handle(const TFileHandle& file) {
    return reinterpret_cast<HANDLE>(file.Get());
}

HANDLE ProcessHandle(process_t process) {
    return reinterpret_cast<HANDLE>(process);
}

std::size_t IndexOf(TChildStream stream) {
    return stream == TChildStream::chOutput ? 0 : 1;
}

[[noreturn]] void RaiseStartError(const std::string& program, DWORD systemError) {
    const int code = static_cast<int>(systemError);
    throw EOSError(Format("Cannot start %s. %s", program, SysErrorMessage(code)), code);
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

/// The whole command line, from the program's UTF-8 (so that a child reads
/// a folder named in any script whole, see ProgramText.h). The program's
/// own name is read up to its closing quote, without backslash rules; a path
/// holds no quote.
std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::wstring line = L"\"" + WideText(program) + L"\"";
    for (const std::string& arg : args)
        line += L" " + QuotedArgument(WideText(arg));
    return line;
}

/// The parent's end of one stream: a named pipe read with one overlapped
/// read at a time, whose completion arrives on the port. Lives on the heap,
/// where the read in flight writes.
struct TPipeReader {
    TPipeReader() = default;
    TPipeReader(const TPipeReader&) = delete;
    TPipeReader& operator=(const TPipeReader&) = delete;
    ~TPipeReader();

    /// Starts the next read, unless one is in flight or the pipe has ended.
    void Start();

    ULONG_PTR Key = WakeKey;
    TFileHandle Pipe;
    OVERLAPPED Overlapped{};
    /// A read is in flight: its packet has not been taken yet.
    bool Reading = false;
    /// The writer has closed its end (or the pipe broke): nothing more comes.
    bool Ended = false;
    /// What the reads brought that Read has not taken yet.
    std::string Ready;
    char Buffer[PipeBuffer];
};

/// The completion port of every child's pipes, with the readers that its
/// packets belong to. A packet whose reader is gone (a child destroyed with a
/// read in flight) is dropped. One lock guards the readers' state, whoever
/// takes a packet.
class TPort {
public:
    static TPort& Instance() {
        static TPort port;
        return port;
    }

    HANDLE Handle() const { return port_; }
    std::recursive_mutex& Lock() { return lock_; }

    /// Registers reader and ties its pipe to the port; false when the system
    /// refuses.
    bool Add(TPipeReader& reader) {
        const std::lock_guard hold(lock_);
        reader.Key = next_++;
        readers_[reader.Key] = &reader;
        return ::CreateIoCompletionPort(Win32Handle(reader.Pipe), port_, reader.Key, 0) != nullptr;
    }
    void Drop(const TPipeReader& reader) {
        const std::lock_guard hold(lock_);
        readers_.erase(reader.Key);
    }

    /// Takes one packet, waiting up to ms (INFINITE: no limit), and hands
    /// its bytes or its end to its reader; false when none came in time.
    bool Take(DWORD ms) {
        DWORD bytes = 0;
        ULONG_PTR key = WakeKey;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = ::GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, ms);
        if (!overlapped)
            return ok != 0; // a wake-up packet, or none in time
        const std::lock_guard hold(lock_);
        const auto found = readers_.find(key);
        if (found == readers_.end())
            return true;
        TPipeReader& reader = *found->second;
        reader.Reading = false;
        if (ok && bytes > 0)
            reader.Ready.append(reader.Buffer, bytes);
        else if (!ok)
            reader.Ended = true; // ERROR_BROKEN_PIPE: the writer closed its end
        return true;
    }
    /// Takes every packet that has arrived, without waiting.
    void TakeArrived() {
        while (Take(0)) {
        }
    }

    /// Asks for a wake-up packet, from a thread-pool wait.
    static void CALLBACK Wake(void* port, BOOLEAN) {
        ::PostQueuedCompletionStatus(static_cast<HANDLE>(port), 0, WakeKey, nullptr);
    }

private:
    TPort() : port_(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {}
    ~TPort() { ::CloseHandle(port_); }

    HANDLE port_;
    std::recursive_mutex lock_;
    std::unordered_map<ULONG_PTR, TPipeReader*> readers_;
    ULONG_PTR next_ = WakeKey + 1;
};

TPipeReader::~TPipeReader() {
    TPort::Instance().Drop(*this);
    if (Reading) {
        // The read writes into this object until it is cancelled.
        DWORD bytes = 0;
        ::CancelIoEx(Win32Handle(Pipe), &Overlapped);
        ::GetOverlappedResult(Win32Handle(Pipe), &Overlapped, &bytes, TRUE);
    }
}

void TPipeReader::Start() {
    if (Reading || Ended)
        return;
    Overlapped = OVERLAPPED{};
    // Done at once or not, the packet comes through the port; a failure at
    // once (ERROR_BROKEN_PIPE) brings none.
    if (::ReadFile(Win32Handle(Pipe), Buffer, sizeof Buffer, nullptr, &Overlapped) ||
        ::GetLastError() == ERROR_IO_PENDING)
        Reading = true;
    else
        Ended = true;
}

/// A pipe whose write end the child inherits and whose read end stays the
/// parent's alone, registered with the port.
struct TPipe {
    std::unique_ptr<TPipeReader> Read;
    TFileHandle Write;
};

TPipe MakePipe(const std::string& program) {
    // Anonymous pipes cannot be read with overlapped reads: a named pipe of
    // one instance, under a name no other pipe of this program has.
    static std::atomic<unsigned> made{0};
    const std::wstring name = L"\\\\.\\pipe\\tessik-loader-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(made++);
    TPipe pipe{std::make_unique<TPipeReader>(), TFileHandle()};
    const HANDLE read = ::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, PipeBuffer, 0, nullptr);
    if (read == INVALID_HANDLE_VALUE)
        RaiseStartError(program, ::GetLastError());
    pipe.Read->Pipe = TFileHandle(reinterpret_cast<file_t>(read));
    // Opening the client end connects the one instance.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE write = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (write == INVALID_HANDLE_VALUE)
        RaiseStartError(program, ::GetLastError());
    pipe.Write = TFileHandle(reinterpret_cast<file_t>(write));
    if (!TPort::Instance().Add(*pipe.Read))
        RaiseStartError(program, ::GetLastError());
    return pipe;
}

/// This program's environment block for a child, naming this program its
/// parent; kept sorted by name, as the system keeps its own.
std::wstring ChildEnvironment() {
    const std::wstring prefix = WideText(ParentVariable) + L"=";
    const auto name = [](const std::wstring& entry) {
        // "=C:=C:\\dir": a name may start with the equals sign.
        return entry.substr(0, entry.find(L'=', 1));
    };
    std::vector<std::wstring> entries;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1)
            if (::_wcsnicmp(entry, prefix.c_str(), prefix.size()) != 0)
                entries.emplace_back(entry);
        ::FreeEnvironmentStringsW(block);
    }
    entries.push_back(prefix + std::to_wstring(::GetCurrentProcessId()));
    std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
        return ::_wcsicmp(name(a).c_str(), name(b).c_str()) < 0;
    });
    std::wstring text;
    for (const std::wstring& entry : entries)
        text.append(entry).push_back(L'\0');
    text.push_back(L'\0');
    return text;
}

/// Runs callback on a thread of the system's pool once handle is signalled;
/// the wait ends (waiting for a callback that runs) when the object goes.
class TThreadPoolWait {
public:
    TThreadPoolWait(HANDLE handle, WAITORTIMERCALLBACK callback, void* context) {
        if (!::RegisterWaitForSingleObject(&wait_, handle, callback, context, INFINITE,
                                           WT_EXECUTEONLYONCE))
            wait_ = nullptr;
    }
    ~TThreadPoolWait() {
        if (wait_)
            ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
    }
    TThreadPoolWait(const TThreadPoolWait&) = delete;
    TThreadPoolWait& operator=(const TThreadPoolWait&) = delete;

private:
    HANDLE wait_ = nullptr;
};

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

void CALLBACK OnParentEnd(void*, BOOLEAN) {
    RaiseInterrupt(SignalTerminate);
}

/// True when process was created before this program: an id names a later
/// process once the one it named has ended and nothing holds its handle.
bool CreatedBeforeThis(HANDLE process) {
    FILETIME created{}, ownCreated{}, unused{};
    return ::GetProcessTimes(process, &created, &unused, &unused, &unused) &&
           ::GetProcessTimes(::GetCurrentProcess(), &ownCreated, &unused, &unused, &unused) &&
           ::CompareFileTime(&created, &ownCreated) <= 0;
}

} // namespace

struct TChildProcess::TState {
    /// The parent's ends of the output and error pipes; none once read to
    /// their end.
    std::unique_ptr<TPipeReader> Streams[2];
    /// Wakes a wait once the child has ended.
    std::unique_ptr<TThreadPoolWait> EndWake;
};

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
    const std::wstring application = WideText(program);
    std::wstring commandLine = CommandLine(program, args);
    std::wstring environment = ChildEnvironment();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          flags | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                          &startup.StartupInfo, &started))
        RaiseStartError(program, ::GetLastError());
    ::CloseHandle(started.hThread);
    process_ = reinterpret_cast<process_t>(started.hProcess);
    // The child's ends close with this scope: once the child has closed its
    // own, a read sees the end.
    state_.reset(new TState{{std::move(output.Read), std::move(error.Read)},
                            std::make_unique<TThreadPoolWait>(started.hProcess, &TPort::Wake,
                                                              TPort::Instance().Handle())});
}

TChildProcess::~TChildProcess() {
    if (!status_) {
        Kill();
        ::WaitForSingleObject(ProcessHandle(process_), INFINITE);
    }
    // The waits and reads end before the handle that one of them waits on.
    state_.reset();
    ::CloseHandle(ProcessHandle(process_));
}

bool TChildProcess::Read(TChildStream stream, std::string& out) {
    auto& reader = state_->Streams[IndexOf(stream)];
    if (!reader)
        return false;
    TPort& port = TPort::Instance();
    const std::lock_guard hold(port.Lock());
    constexpr std::size_t Limit = 64 * 1024;
    for (std::size_t taken = 0;;) {
        // A read done at once has its packet on the port already.
        port.TakeArrived();
        taken += reader->Ready.size();
        out += reader->Ready;
        reader->Ready.clear();
        if (reader->Ended) {
            reader.reset();
            return false;
        }
        if (reader->Reading || taken >= Limit)
            return true;
        reader->Start();
    }
}

bool TChildProcess::IsOpen(TChildStream stream) const {
    return state_->Streams[IndexOf(stream)] != nullptr;
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

TChildWake TChildProcessSet::WaitUntil(std::span<TChildProcess* const> children,
                                       TDeadline deadline) {
    TPort& port = TPort::Instance();
    const file_t held = HeldInterruptWaitable();
    const HANDLE interrupt = held == InvalidFile ? nullptr : reinterpret_cast<HANDLE>(held);
    // Made before the first look, so that an interrupt held after it still
    // wakes the wait.
    std::optional<TThreadPoolWait> interruptWake;
    if (interrupt)
        interruptWake.emplace(interrupt, &TPort::Wake, port.Handle());
    for (;;) {
        {
            const std::lock_guard hold(port.Lock());
            port.TakeArrived();
            if (interrupt && ::WaitForSingleObject(interrupt, 0) == WAIT_OBJECT_0)
                return TChildWake::cwInterrupt;
            for (TChildProcess* child : children) {
                for (const auto& reader : child->state_->Streams) {
                    if (reader)
                        reader->Start(); // every open stream keeps a read in flight
                    if (reader && (!reader->Ready.empty() || reader->Ended))
                        return TChildWake::cwChild;
                }
                if (!child->status_ &&
                    ::WaitForSingleObject(ProcessHandle(child->process_), 0) == WAIT_OBJECT_0)
                    return TChildWake::cwChild;
            }
        }
        DWORD wait = INFINITE;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return TChildWake::cwTimeout;
            wait = static_cast<DWORD>(
                std::min<std::chrono::milliseconds::rep>(left.count(), INFINITE - 1));
        }
        // One packet: a pipe's read done, a child's end, an interrupt; then
        // the look above tells whether it concerns these children.
        port.Take(wait);
    }
}

void EndWithParent() {
    const char* parent = std::getenv(std::string(ParentVariable).c_str());
    if (!parent)
        return;
    const DWORD id = static_cast<DWORD>(std::strtoul(parent, nullptr, 10));
    const HANDLE process =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process || !CreatedBeforeThis(process) ||
        ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        if (process)
            ::CloseHandle(process);
        RaiseInterrupt(SignalTerminate);
        return;
    }
    // Kept, with the handle it waits on, for as long as the program runs:
    // never unregistered, not even while the program ends.
    new TThreadPoolWait(process, &OnParentEnd, nullptr);
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

std::optional<std::size_t> ChildProcessRoom() {
    // A process may hold millions of handles: memory runs out first.
    return std::nullopt;
}
