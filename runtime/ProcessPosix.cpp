// Child programs on POSIX: posix_spawn with the child's streams on pipes and
// each child in a process group of its own, SIGINT for Ctrl-C, one poll over
// the pipes, what tells the children's ends and the held interrupts, and the
// open-file limit that bounds how many children run at once. A child is
// reaped without waiting while it may still run, and with a blocking waitpid
// once both its streams have closed: it is at its end then, and waiting for
// it is what a system without a watch for a child's end must do. No SIGCHLD
// is needed, so nothing process-wide changes for other code that starts
// programs. What only Linux has comes through PosixSystem.h. Nothing but the
// platform's side of Process.h belongs in this file.
#include "runtime/Process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/Console.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/HeldInterrupts.h"
#include "runtime/PosixSystem.h"

extern char** environ;

struct TChildProcess::TState {
    /// The parent's ends of the output and error pipes; none once ended.
    std::optional<TFileHandle> Streams[2];
    /// Polls readable once the child has ended; invalid where the system has
    /// none (not Linux, or Linux before 5.3), and then the end is seen by
    /// its streams'.
    TFileHandle EndWatch;
};

namespace {

/// The parent's descriptors a running child holds: the read ends of its
/// output and error pipes and its pidfd.
constexpr std::size_t DescriptorsPerChild = 3;
/// How long a wait looks at the held interrupts where no watch tells of
/// them.
constexpr auto InterruptLook = std::chrono::milliseconds(100);
/// Descriptors kept free besides: the write ends held while a child starts,
/// the held interrupts' signalfd, a file written meanwhile, and whatever a
/// library opens.
constexpr std::size_t SpareDescriptors = 16;

/// Names the parent in the child's environment, for EndWithParent: the
/// parent the system reports can already be another process by the time
/// the child asks.
constexpr std::string_view ParentVariable = "LOADER_PARENT_PROCESS";

int Descriptor(const TFileHandle& file) {
    return static_cast<int>(file.Get());
}

std::size_t IndexOf(TChildStream stream) {
    return stream == TChildStream::chOutput ? 0 : 1;
}

[[noreturn]] void RaiseStartError(const std::string& program, int systemError) {
    throw EOSError(Format("Cannot start %s. %s", program, SysErrorMessage(systemError)),
                   systemError);
}

/// Owns what posix_spawn needs set up and releases it on every path.
class TSpawnSetup {
public:
    TSpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~TSpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

/// This program's environment for a child, naming this program its parent.
std::vector<std::string> ChildEnvironment() {
    const std::string prefix = std::string(ParentVariable) + "=";
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string_view(*entry).starts_with(prefix))
            entries.emplace_back(*entry);
    entries.push_back(prefix + std::to_string(::getpid()));
    return entries;
}

/// A pipe whose ends close on exec, so that no other child keeps a stream
/// of this one open: the parent would never see its end. dup2 in the child
/// clears the flag on the copies it is meant to have.
bool OpenPipe(int ends[2]) {
    if (::pipe(ends) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        ::fcntl(ends[i], F_SETFD, FD_CLOEXEC);
    return true;
}

/// A null-terminated array of the texts' characters, as exec takes it.
std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args) {
    int output[2], error[2];
    if (!OpenPipe(output))
        RaiseStartError(program, errno);
    TFileHandle outputRead(output[0]), outputWrite(output[1]);
    if (!OpenPipe(error))
        RaiseStartError(program, errno);
    TFileHandle errorRead(error[0]), errorWrite(error[1]);

    TSpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, error[1], STDERR_FILENO);
    // A parent that holds interrupts keeps them blocked and SIGPIPE ignored,
    // and both are inherited: the child starts with nothing blocked and these
    // signals at their defaults, as a program started from a shell does.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    // A process group of its own: a terminal's Ctrl-C reaches the parent
    // alone, which decides whom it interrupts, instead of every child at
    // once and then again from the parent.
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                    POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    const std::vector<std::string> environment = ChildEnvironment();
    pid_t pid = 0;
    const int result = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes,
                                   Pointers(words).data(), Pointers(environment).data());
    if (result != 0)
        RaiseStartError(program, result);
    process_ = pid;

    // The parent never waits on a pipe: poll tells when to read.
    ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(error[0], F_SETFL, ::fcntl(error[0], F_GETFL) | O_NONBLOCK);
    // Until Ended has reaped the child its id names it alone, so the pidfd
    // made from it now cannot name another process.
    state_.reset(
        new TState{{std::move(outputRead), std::move(errorRead)}, TFileHandle(OpenEndWatch(pid))});
}

TChildProcess::~TChildProcess() {
    if (status_)
        return;
    Kill();
    int status = 0;
    while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
    }
}

bool TChildProcess::Read(TChildStream stream, std::string& out) {
    auto& pipe = state_->Streams[IndexOf(stream)];
    if (!pipe)
        return false;
    constexpr std::size_t Limit = 64 * 1024;
    char buffer[16 * 1024];
    for (std::size_t taken = 0; taken < Limit;) {
        const ssize_t n = ::read(Descriptor(*pipe), buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
            taken += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            // The end, or a pipe that can no longer be read: either way
            // nothing more will come from it.
            pipe.reset();
            return false;
        }
    }
    return true;
}

bool TChildProcess::IsOpen(TChildStream stream) const {
    return state_->Streams[IndexOf(stream)].has_value();
}

void TChildProcess::Interrupt() noexcept {
    // Until Ended has reaped it, the process id cannot name another process.
    if (!status_)
        ::kill(static_cast<pid_t>(process_), SIGINT);
}

void TChildProcess::Kill() noexcept {
    if (!status_)
        ::kill(static_cast<pid_t>(process_), SIGKILL);
}

std::optional<int> TChildProcess::Ended() {
    if (status_)
        return status_;
    // Both streams closed: the child is at its end, and where no watch tells
    // when it has got there, waiting for it is the only way to learn.
    const bool atItsEnd = !IsOpen(TChildStream::chOutput) && !IsOpen(TChildStream::chError);
    int status = 0;
    pid_t pid = 0;
    do
        pid = ::waitpid(static_cast<pid_t>(process_), &status, atItsEnd ? 0 : WNOHANG);
    while (pid < 0 && errno == EINTR);
    if (pid == 0)
        return std::nullopt;
    if (pid < 0)
        status_ = 128; // someone else reaped it; how it ended is lost
    else if (WIFSIGNALED(status))
        status_ = 128 + WTERMSIG(status);
    else
        status_ = WEXITSTATUS(status);
    return status_;
}

TChildWake TChildProcessSet::WaitUntil(std::span<TChildProcess* const> children,
                                       TDeadline deadline) {
    std::vector<pollfd> watched;
    // First, so that an interrupt is told whatever else is ready.
    const file_t interrupt = HeldInterruptWaitable();
    if (interrupt != InvalidFile)
        watched.push_back({static_cast<int>(interrupt), POLLIN, 0});
    for (TChildProcess* child : children) {
        bool streamOpen = false;
        for (const auto& pipe : child->state_->Streams)
            if (pipe) {
                watched.push_back({Descriptor(*pipe), POLLIN, 0});
                streamOpen = true;
            }
        if (child->status_)
            continue;
        if (child->state_->EndWatch.Get() != InvalidFile)
            watched.push_back({Descriptor(child->state_->EndWatch), POLLIN, 0});
        else if (!streamOpen)
            return TChildWake::cwChild; // at its end: Ended reaps it
    }
    using Clock = std::chrono::steady_clock;
    for (;;) {
        if (interrupt == InvalidFile && HeldInterruptPending())
            return TChildWake::cwInterrupt;
        std::optional<Clock::duration> left;
        if (deadline)
            left = std::max(*deadline - Clock::now(), Clock::duration::zero());
        // Without a watch for the interrupts, the wait looks for them now
        // and then.
        if (interrupt == InvalidFile && (!left || *left > InterruptLook))
            left = InterruptLook;
        const int ready = ::poll(
            watched.data(), watched.size(),
            left ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*left).count())
                 : -1);
        // A handler of some other signal ran: the wait goes on.
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            if (interrupt != InvalidFile && watched.front().revents != 0)
                return TChildWake::cwInterrupt;
            return TChildWake::cwChild;
        }
        if (ready < 0 || (deadline && Clock::now() >= *deadline))
            return TChildWake::cwTimeout;
    }
}

void EndWithParent() {
    const char* parent = std::getenv(std::string(ParentVariable).c_str());
    if (!parent)
        return;
    AskForSignalAtParentEnd(static_cast<pid_t>(std::strtol(parent, nullptr, 10)));
}

std::string RunningProgramFile() {
    return SystemProgramFile();
}

std::optional<std::size_t> ChildProcessRoom() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::nullopt;
    if (limit.rlim_cur < limit.rlim_max) {
        // Refused only where the hard limit is beyond what the kernel takes
        // (RLIM_INFINITY, above fs.nr_open): the soft one then stays.
        const rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    const std::size_t files = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t used = OpenDescriptorCount().value_or(SpareDescriptors) + SpareDescriptors;
    return files > used ? (files - used) / DescriptorsPerChild : 0;
}
