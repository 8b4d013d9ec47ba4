// What the tests need of the platform they run on, in platform-free terms:
// which platform the program was built for (tables whose rows carry each
// platform's own error number or text pick their column with it), a writer
// that holds a file open, files that are no files, a name no other test
// process uses, whether a child program can be sent Ctrl-C, a signal to the
// parent or to a child, a write to a closed pipe, a watch on an orphaned grandchild,
// writes made to fail, and the TFTP server to test against. Each platform's calls are in its own
// file beside this one (PlatformPosix.cpp, PlatformWindows.cpp), as is the UDP peer's socket code;
// tests/CMakeLists.txt picks the file and sets LOADER_TEST_PLATFORM.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/Process.h"

enum class TTestPlatform { tpPosix, tpWindows };

constexpr TTestPlatform kTestPlatform = TTestPlatform::LOADER_TEST_PLATFORM;

/// The value of the platform the tests run on, from a row with both.
template <class T> constexpr T PlatformValue(T posix, T windows) {
    return kTestPlatform == TTestPlatform::tpWindows ? windows : posix;
}

/// A program that has a file open for writing, as another writer would:
/// holds it until destroyed. Throws std::runtime_error when it cannot.
class TWriterHold {
public:
    explicit TWriterHold(const std::string& path);
    ~TWriterHold();
    TWriterHold(const TWriterHold&) = delete;
    TWriterHold& operator=(const TWriterHold&) = delete;

private:
    std::intptr_t handle_ = -1;
};

/// True when another program could open path for writing right now.
bool WriterAdmitted(const std::string& path);

/// Paths that open like files but hold none, made in folder (which ends in
/// the separator) and gone with the object: on POSIX a pipe without a
/// writer, a link to a device and a device; on Windows the NUL device and a
/// named pipe that waits for a client. On POSIX a test stuck on the pipe
/// ends the test program 20 s after the object was made, not the run.
class TSpecialFiles {
public:
    explicit TSpecialFiles(const std::string& folder);
    ~TSpecialFiles();
    TSpecialFiles(const TSpecialFiles&) = delete;
    TSpecialFiles& operator=(const TSpecialFiles&) = delete;

    const std::vector<std::string>& Paths() const { return paths_; }

private:
    std::vector<std::string> paths_;
    [[maybe_unused]] std::intptr_t pipe_ = -1; // the named pipe's server end (Windows)
};

/// A text unique to this test process, for names of temporary files.
std::string ProcessTag();

/// Ends the program as Ctrl-C at its console does when nothing holds it:
/// SIGINT on POSIX, STATUS_CONTROL_C_EXIT on Windows.
[[noreturn]] void EndAsCtrlCWould();

/// Why a test cannot send a child program Ctrl-C (TChildProcess::Interrupt)
/// here; empty when it can.
std::string CtrlCUnavailable();

/// Sends signal (1 SIGHUP, 2 SIGINT, 15 SIGTERM) to the parent of this
/// program; false where the platform cannot (Windows: no program can send
/// another a console's close or log-off event, and a child in a process
/// group of its own ignores Ctrl-C).
bool SignalParent(int signal);

/// True when child leads a process group of its own, so that a terminal's
/// Ctrl-C to its parent's group does not reach it.
bool LeadsItsOwnProcessGroup(TChildProcess& child);

/// Sends signal (1 SIGHUP, 2 SIGINT, 15 SIGTERM) to child, as a user's
/// kill or the closing terminal would; false where the platform cannot
/// (Windows: only Ctrl-C, which TChildProcess::Interrupt sends).
bool SignalChild(TChildProcess& child, int signal);

/// Writes to a pipe whose reading end is closed, as a program whose reader
/// went away does: the system's error number of the write (EPIPE,
/// ERROR_NO_DATA), 0 when it succeeded. A POSIX program that does not ignore
/// SIGPIPE ends here.
int WriteToClosedPipe();

/// How a process that is not this program's child ends: a grandchild whose
/// parent is killed. Made while the grandchild runs. On POSIX this program
/// is the reaper of its orphaned descendants while the watch lasts
/// (PR_SET_CHILD_SUBREAPER), so that it learns the orphan's status; a
/// grandchild still running when the watch goes is killed.
class TOrphanWatch {
public:
    explicit TOrphanWatch(const std::string& pid);
    ~TOrphanWatch();
    TOrphanWatch(const TOrphanWatch&) = delete;
    TOrphanWatch& operator=(const TOrphanWatch&) = delete;

    /// The exit status (128 + the signal for one that a signal ended) once
    /// the process ended within limit; -1 when it did not.
    int WaitForEnd(std::chrono::milliseconds limit);

private:
    std::int64_t pid_ = -1;
    std::intptr_t watch_ = -1;
    bool ended_ = false;
};

/// Makes replacing the file at path fail while it lasts, as a full disk or
/// another program's hold does: on POSIX a file-size limit of zero for this
/// program (SIGXFSZ ignored), so that every write to a file fails with
/// EFBIG; on Windows the file held open without delete sharing, so that
/// nothing can be moved over it.
class TFailingWrites {
public:
    explicit TFailingWrites(const std::string& path);
    ~TFailingWrites();
    TFailingWrites(const TFailingWrites&) = delete;
    TFailingWrites& operator=(const TFailingWrites&) = delete;

private:
    [[maybe_unused]] std::int64_t saved_ = -1;   // the file-size limit before (POSIX)
    [[maybe_unused]] std::intptr_t handle_ = -1; // the file held (Windows)
};

/// tftpd-hpa, an independent TFTP server, on a loopback address and its own
/// port, with a root folder that accepts new files. On POSIX the test starts
/// it and stops it by its pid; a Windows test program cannot start a Linux
/// program that it could stop again, so there the test run starts one for
/// it (scripts/test-windows.sh, on 127.0.0.61) and names its port and root
/// in LOADER_TEST_TFTPD_PORT and LOADER_TEST_TFTPD_ROOT.
class TTftpdHpa {
public:
    explicit TTftpdHpa(const std::string& ip);
    ~TTftpdHpa();
    TTftpdHpa(const TTftpdHpa&) = delete;
    TTftpdHpa& operator=(const TTftpdHpa&) = delete;

    /// Why there is no server to test against; empty when there is one.
    static std::string Missing();
    /// True once the server answers a read request for a missing file (at
    /// most 5 seconds).
    bool Ready();
    std::uint16_t Port() const { return port_; }
    const std::filesystem::path& Root() const { return root_; }

private:
    std::string ip_;
    std::filesystem::path root_;
    std::uint16_t port_ = 0;
    std::intptr_t pid_ = -1;
};
