// Child programs for a parent that runs several at once: start a program
// with its arguments, read what it writes on its output and error streams
// without ever blocking on one child, interrupt it as Ctrl-C would, learn how
// it ended, and wait for all of them in one place (TChildProcessSet), waking
// on a child's output, a child's end or a held interrupt, never on a timer;
// and how many the system lets run at once (ChildProcessRoom). A child that
// asks for it (EndWithParent) does not outlive its parent. No
// platform type or call belongs here: they live in the process
// implementation file beside this one (ProcessPosix.cpp, with what only
// Linux has in ProcessLinux.cpp and its portable side in
// ProcessPosixPortable.cpp; ProcessWindows.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/Files.h"

/// Own alias for the platform's process identity (a process id or a process
/// handle, both fit) and its invalid value.
using process_t = std::intptr_t;
constexpr process_t InvalidProcess = -1;

enum class TChildStream { chOutput, chError };

class TChildProcess {
public:
    /// Starts program (a path) with args. The child's input reads nothing;
    /// its output and error streams are pipes that only this object reads.
    /// Interrupts (Console.h) end the child and a closed output ends it on
    /// POSIX until it holds them itself, whatever the parent does with its
    /// own. Throws EOSError "Cannot start %s. %s" (the program and the
    /// system's text) when it cannot be started.
    TChildProcess(const std::string& program, const std::vector<std::string>& args);
    /// Kills a child that still runs and waits for its end.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    /// Appends to out what the child has written on stream since the last
    /// read, up to 64 KiB per call so that one busy child cannot hold up the
    /// others; never waits. False once the stream has ended and all of it was
    /// read.
    bool Read(TChildStream stream, std::string& out);
    /// True until Read has seen the end of stream.
    bool IsOpen(TChildStream stream) const;
    /// Asks the child to end as Ctrl-C at its console would; nothing once it
    /// has ended.
    void Interrupt() noexcept;
    /// Ends the child at once; nothing once it has ended.
    void Kill() noexcept;
    /// How the child ended, without waiting: its exit status, or 128 plus
    /// the number of the signal that ended it, as a shell reports it. None
    /// while it runs.
    std::optional<int> Ended();
    /// The platform's identity of the child (its process id, or its process
    /// handle); valid until Ended has told its end.
    process_t Id() const noexcept { return process_; }

private:
    friend class TChildProcessSet;

    /// The platform's side: the parent's ends of the streams (none once
    /// ended) and what tells the child's end.
    struct TState;
    std::unique_ptr<TState> state_;
    process_t process_ = InvalidProcess;
    std::optional<int> status_;
};

/// What ended a wait of TChildProcessSet.
enum class TChildWake {
    cwChild,     // a child has output to read, has closed a stream or has ended
    cwInterrupt, // a held interrupt (Console.h) waits to be taken
    cwTimeout    // the time passed with none of these
};

/// The children a parent runs at once, waited for in one place. The set owns
/// them; whoever drives it reads each child (Read, Ended) after every wait and
/// removes those that are done. Children are read and waited for from one
/// thread at a time.
class TChildProcessSet {
public:
    TChildProcessSet() = default;
    TChildProcessSet(const TChildProcessSet&) = delete;
    TChildProcessSet& operator=(const TChildProcessSet&) = delete;

    /// Starts a child as TChildProcess does (and throws as it does) and adds
    /// it to the set.
    TChildProcess& Start(const std::string& program, const std::vector<std::string>& args);
    /// Removes child from the set and destroys it: a child that still runs
    /// is killed (Interrupt it first for a clean end).
    void Remove(TChildProcess& child);
    /// The children, in the order they were started.
    std::vector<TChildProcess*> Children() const;
    bool Empty() const { return children_.empty(); }

    /// Waits until a child has output to read or has closed a stream, a
    /// child has ended, or a held interrupt waits to be taken, or until
    /// timeout has passed (none: no limit; zero: no wait). Each of these
    /// counts until it is taken: the output by Read, the end by Ended, the
    /// interrupt by TakeInterrupt; so a wait returns at once while one is
    /// left. Tells cwInterrupt when an interrupt waits, whatever else does.
    /// An empty set waits for an interrupt alone (for ever without a limit
    /// while interrupts are not held).
    TChildWake Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    /// The same wait over children that the caller owns.
    static TChildWake WaitFor(std::span<TChildProcess* const> children,
                              std::optional<std::chrono::milliseconds> timeout);

private:
    using TDeadline = std::optional<std::chrono::steady_clock::time_point>;
    /// WaitFor until deadline (none: no limit): the platform's own wait.
    static TChildWake WaitUntil(std::span<TChildProcess* const> children, TDeadline deadline);

    std::vector<std::unique_ptr<TChildProcess>> children_;
};

/// Waits until one of children has output to read, has closed a stream or
/// has ended, or a held interrupt waits, or until timeout has passed (zero:
/// no wait): TChildProcessSet::WaitFor, for the callers that do not ask why.
void WaitForChildOutput(std::span<TChildProcess* const> children,
                        std::chrono::milliseconds timeout);

/// Makes this program end when the parent that started it with TChildProcess
/// ends, however it ends (killed at once included): the parent's end comes
/// as a held SIGTERM (SignalTerminate), so a program that holds interrupts
/// ends its run cleanly, and one that does not ends with status 128 + 15.
/// A parent already gone counts at once. Nothing for a program that
/// TChildProcess did not start. Call it at the start, before the program
/// starts children or threads of its own. On POSIX the parent's end is the
/// end of the thread that started the child (prctl PR_SET_PDEATHSIG): start
/// children from a thread that lives as long as they should, such as main.
/// Elsewhere on POSIX a thread looks for a new parent four times a second.
/// On Windows a thread-pool wait on the parent's process handle raises it.
void EndWithParent();

/// The running program's own file, to start another copy of it; empty when
/// the system does not tell.
std::string RunningProgramFile();

/// How many more children this program can run at once for the files that
/// each one keeps open in it (its two streams and what tells its end), after
/// raising the program's limit of open files as far as the system lets it
/// (POSIX: the soft RLIMIT_NOFILE up to the hard one; the children inherit
/// it). None where the system sets no such limit (Windows: handles).
std::optional<std::size_t> ChildProcessRoom();
