// The file system as this program needs it, in task-level operations: the
// owner of an open file, the image-header read, the folder enumeration,
// existence queries, the program's folder, a result file written whole, and
// the system's and the classic I/O error texts. No platform type or call belongs here: every file
// call of the platform sits in one implementation file that the build picks (FilesPosix.cpp; a
// Windows build brings its own sibling). Files.cpp holds what every platform shares.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Own alias for the platform's file handle (a descriptor, or a handle
/// value, both fit) and its invalid value.
using file_t = std::intptr_t;
constexpr file_t InvalidFile = -1;

/// The platform's path separator: what the image folder ends in.
extern const char PathDelim;

/// Owns an open file and closes it when destroyed.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(file_t handle) noexcept : handle_(handle) {}
    ~TFileHandle();
    TFileHandle(TFileHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = InvalidFile;
    }
    /// Takes other's file; the one held before closes with other.
    TFileHandle& operator=(TFileHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    file_t Get() const noexcept { return handle_; }

private:
    file_t handle_ = InvalidFile;
};

/// One entry of a folder enumeration.
struct TFolderEntry {
    std::string Name;
    /// True for a directory, or a link to one.
    bool Directory = false;
    /// True for a pipe, a device or a socket, or a link to one: no file whose
    /// bytes could be an image.
    bool Special = false;
};

/// What tells that an open file was written to: its size and the time of its
/// last modification (in the platform's own units; only ever compared).
struct TFileStamp {
    std::int64_t Size = 0;
    std::int64_t Modified = 0;
    bool operator==(const TFileStamp&) const = default;
};

/// The system's text for one of its error numbers.
std::string SysErrorMessage(int systemError);

/// The path made absolute against the current folder, its "." and ".."
/// segments resolved by the text alone (no links followed): "/a/./b/../c"
/// gives "/a/c".
std::string ExpandFileName(const std::string& path);

/// True when path names an existing directory.
bool DirectoryExists(const std::string& path);

/// True when path names an existing file that is not a directory.
bool FileExists(const std::string& path);

/// The folder of the running program, ending in PathDelim.
std::string ProgramFolder();

/// The entries of folder whose names end in extension in any letter case
/// (".bin" takes "PROG.BIN" and ".bin" itself), in the order of the
/// enumeration. A folder that cannot be read has none.
std::vector<TFolderEntry> FolderEntries(const std::string& folder, std::string_view extension);

/// Fills bytes with the first bytes of the file at path. Opened for reading
/// only, and without blocking: a pipe with no writer reads as empty instead
/// of waiting for one. Throws EInOutError (RaiseInOutError) when the file
/// cannot be opened or read, "Read beyond end of file" when it is shorter.
void ReadFileStart(const std::string& path, std::span<std::uint8_t> bytes);

/// What a whole write does with a pipe or a device at its path.
enum class TSpecialTarget {
    tgWriteStraight, // writes it (and may wait there for a pipe's reader)
    tgRefuse         // refuses it without waiting, as Not a regular file
};

/// Writes text to the file at path whole or not at all: into a new file
/// beside it (same folder, a name of its own), flushed to the disk, then
/// renamed over path in one step, so that a reader finds the old content or
/// the new, never a part. A file at path is replaced, with the permissions a
/// new file gets; where path is a link, the file it names is. A pipe or a
/// device at path (/dev/stdout) is written straight, never replaced, or
/// refused (special). Throws EOSError "Cannot write <path>: <system text>"
/// with the system's number, EFOpenError for a refused pipe or device; the
/// file at path is then as it was and the new file is gone.
void WriteFileWhole(const std::string& path, std::string_view text,
                    TSpecialTarget special = TSpecialTarget::tgWriteStraight);

/// Throws what WriteFileWhole would throw for a folder that takes no new
/// file or a path that names a directory, without touching a file at path:
/// makes and removes a new file beside it. With tgRefuse, an existing file
/// is also opened for writing, without truncating it and without waiting
/// (a pipe that nobody reads), and refused unless it is a regular file.
void CheckWritable(const std::string& path,
                   TSpecialTarget special = TSpecialTarget::tgWriteStraight);

/// True when path (which need not exist) lies in folder or below it, or is
/// folder: links and "." and ".." resolved as far as the path exists.
bool PathInFolder(const std::string& path, const std::string& folder);

/// Throws EOSError "Cannot write %s: %s" with path as given and the system's
/// text.
[[noreturn]] void RaiseWriteError(const std::string& path, int systemError);

/// The classic I/O error code of a system error number, by condition:
/// 2 file not found, 3 invalid filename, 4 too many open files, 5 access
/// denied; 0 when the number has none of them.
int InOutErrorCode(int systemError);

/// Throws EInOutError for a failed file open or read, with the classic texts:
/// "File not found", "Invalid filename", "Too many open files",
/// "File access denied", else "I/O error %d" with the system's number.
[[noreturn]] void RaiseInOutError(int systemError);

/// Throws EInOutError 100 "Read beyond end of file".
[[noreturn]] void RaiseReadBeyondEnd();

/// Throws EFOpenError "Cannot open file "%s". %s" with the full path and the
/// system's text.
[[noreturn]] void RaiseOpenError(const std::string& path, int systemError);

/// Throws EFOpenError "Cannot open file "%s". Not a regular file" with the
/// full path: for a pipe, a device or a socket, which opened but hold no file.
[[noreturn]] void RaiseNotRegularFile(const std::string& path);
