// Child programs on POSIX: posix_spawn with the child's streams on pipes,
// poll over the parent's ends, SIGINT for Ctrl-C, waitpid without waiting.
// Every process call of the program is here; nothing but the platform's side
// of Process.h belongs in this file.
#include "runtime/Process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Format.h"

extern char** environ;

namespace {

int Descriptor(const TFileHandle& file) {
    return static_cast<int>(file.Get());
}

std::size_t IndexOf(TChildStream stream) {
    return stream == TChildStream::csOutput ? 0 : 1;
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

} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args) {
    // Close-on-exec, so that no other child keeps a stream of this one open:
    // the parent would never see its end. dup2 in the child clears the flag
    // on the copies it is meant to have.
    int output[2], error[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        RaiseStartError(program, errno);
    TFileHandle outputRead(output[0]), outputWrite(output[1]);
    if (::pipe2(error, O_CLOEXEC) != 0)
        RaiseStartError(program, errno);
    TFileHandle errorRead(error[0]), errorWrite(error[1]);

    TSpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, error[1], STDERR_FILENO);
    // A parent that holds Ctrl-C keeps SIGINT blocked, and a blocked mask is
    // inherited: the child starts with nothing blocked and SIGINT and
    // SIGPIPE at their defaults, as a program started from a shell does.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int result =
        posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (result != 0)
        RaiseStartError(program, result);
    process_ = pid;

    // The parent never waits on a pipe: poll tells when to read.
    ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(error[0], F_SETFL, ::fcntl(error[0], F_GETFL) | O_NONBLOCK);
    streams_[0].emplace(std::move(outputRead));
    streams_[1].emplace(std::move(errorRead));
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
    auto& pipe = streams_[IndexOf(stream)];
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
    return streams_[IndexOf(stream)].has_value();
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
    int status = 0;
    pid_t pid = 0;
    do
        pid = ::waitpid(static_cast<pid_t>(process_), &status, WNOHANG);
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

void WaitForChildOutput(std::span<TChildProcess* const> children,
                        std::chrono::milliseconds timeout) {
    std::vector<pollfd> watched;
    for (TChildProcess* child : children)
        for (const TChildStream stream : {TChildStream::csOutput, TChildStream::csError})
            if (child->IsOpen(stream))
                watched.push_back({Descriptor(*child->streams_[IndexOf(stream)]), POLLIN, 0});
    const auto wait = std::min<std::chrono::milliseconds::rep>(timeout.count(), INT_MAX);
    ::poll(watched.data(), watched.size(), static_cast<int>(wait));
}

std::string RunningProgramFile() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}
