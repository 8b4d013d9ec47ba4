// Child programs for a parent that runs several at once: start a program
// with its arguments, read what it writes on its output and error streams
// without ever blocking on one child, interrupt it as Ctrl-C would, and learn
// how it ended. No platform type or call belongs here: they live in the
// process implementation file beside this one (ProcessPosix.cpp; a Windows
// build brings its own sibling).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/Files.h"

/// Own alias for the platform's process identity (a process id or a process
/// handle, both fit) and its invalid value.
using process_t = std::intptr_t;
constexpr process_t kInvalidProcess = -1;

enum class TChildStream { csOutput, csError };

class TChildProcess {
public:
    /// Starts program (a path) with args. The child's input reads nothing;
    /// its output and error streams are pipes that only this object reads.
    /// Ctrl-C ends the child until it holds Ctrl-C itself, whatever the
    /// parent does with its own. Throws EOSError "Cannot start %s. %s" (the
    /// program and the system's text) when it cannot be started.
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

private:
    friend void WaitForChildOutput(std::span<TChildProcess* const> children,
                                   std::chrono::milliseconds timeout);

    process_t process_ = kInvalidProcess;
    /// The parent's ends of the output and error pipes; none once ended.
    std::optional<TFileHandle> streams_[2];
    std::optional<int> status_;
};

/// Waits until one of children has output to read or has closed a stream,
/// or until timeout has passed (zero: no wait). Children whose streams have
/// both ended take no part; with none left it waits out the timeout.
void WaitForChildOutput(std::span<TChildProcess* const> children,
                        std::chrono::milliseconds timeout);

/// The running program's own file, to start another copy of it; empty when
/// the system does not tell.
std::string RunningProgramFile();
