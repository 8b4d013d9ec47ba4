// The runtime's file operations on POSIX: every file-system call of the
// program is here, and errno becomes a classic I/O error code or the
// system's text right after the call that set it. Nothing but the platform's
// side of Files.h and of TFileStream belongs here; shared texts are in
// Files.cpp.
#include "runtime/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

extern const char PathDelim = '/';

namespace {

int Descriptor(const TFileHandle& file) {
    return static_cast<int>(file.Get());
}

/// read(2), taken up again when a signal interrupts it; -1 with errno set
/// when it fails.
ssize_t ReadSome(int fd, void* buffer, std::size_t count) {
    ssize_t n = 0;
    do
        n = ::read(fd, buffer, count);
    while (n < 0 && errno == EINTR);
    return n;
}

TFileHandle OpenStreamFile(const std::string& path, TFileStream::TOpenMode mode,
                           TFileStream::TShareMode share) {
    // Without O_NONBLOCK the open of a pipe would wait for a writer, for
    // ever; on a regular file the flag changes nothing.
    const int flags =
        (mode == TFileStream::TOpenMode::fmOpenRead ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0)
        RaiseOpenError(path, errno);
    TFileHandle file(fd);
    // A directory, a pipe or a device opens here, but none is a file to
    // stream: a device reads as endless or as empty, a pipe as whatever its
    // writer sends (a Windows open refuses a directory by itself).
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        RaiseOpenError(path, errno);
    if (S_ISDIR(st.st_mode))
        RaiseOpenError(path, EISDIR);
    if (!S_ISREG(st.st_mode))
        RaiseNotRegularFile(path);
    // POSIX has no mandatory sharing modes; the closest thing to shutting
    // writers out is an advisory shared lock: a writer that takes the
    // exclusive lock waits until the stream is closed, and a file that such
    // a writer holds right now is not opened at all.
    if (share == TFileStream::TShareMode::fmShareDenyWrite && ::flock(fd, LOCK_SH | LOCK_NB) != 0)
        RaiseOpenError(path, errno);
    return file;
}

/// Where a whole write of path goes: the file a link names, so that the link
/// stays; or, for a pipe or a device, path itself, written straight
/// (Straight), since renaming over it would replace the device node. Throws
/// for a directory.
struct TWriteTarget {
    explicit TWriteTarget(const std::string& path) : Path(path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return;
        if (S_ISDIR(st.st_mode))
            RaiseWriteError(path, EISDIR);
        Straight = !S_ISREG(st.st_mode);
        char resolved[PATH_MAX];
        if (!Straight && ::realpath(path.c_str(), resolved))
            Path = resolved;
    }

    std::string Path;
    bool Straight = false;
};

/// A new file beside target under a name no other file has, removed again
/// unless it took target's place. Failures name path, as the caller gave it.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& target, const std::string& path) : path_(path) {
        static std::atomic<unsigned> made{0};
        for (int attempt = 1;; ++attempt) {
            name_ = Format("%s.%d-%d.tmp", target, ::getpid(), made++);
            const int fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                file_ = TFileHandle(fd);
                return;
            }
            // A name left by an earlier process with this id: the next one,
            // a bounded number of times.
            if (errno != EEXIST || attempt == 100)
                RaiseWriteError(path_, errno);
        }
    }
    ~TTemporaryFile() {
        if (!name_.empty())
            ::unlink(name_.c_str());
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    /// Writes text, flushes it to the disk, and renames the file over target.
    void Replace(const std::string& target, std::string_view text) {
        if (!WriteAll(Descriptor(file_), text) || ::fsync(Descriptor(file_)) != 0)
            RaiseWriteError(path_, errno);
        file_ = TFileHandle();
        if (::rename(name_.c_str(), target.c_str()) != 0)
            RaiseWriteError(path_, errno);
        name_.clear();
    }

    /// write(2) until all of text is written; false with errno set when it fails.
    static bool WriteAll(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::write(fd, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    std::string path_, name_;
    TFileHandle file_;
};

} // namespace

TFileHandle::~TFileHandle() {
    if (handle_ != InvalidFile)
        ::close(static_cast<int>(handle_));
}

std::string SysErrorMessage(int systemError) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(systemError, buf, sizeof buf);
    return text;
}

std::string ExpandFileName(const std::string& path) {
    std::string full = path;
    if (path.empty() || path[0] != PathDelim) {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return path;
        full = cwd;
        if (full.empty() || full.back() != PathDelim)
            full += PathDelim;
        full += path;
    }
    return std::filesystem::path(full).lexically_normal().string();
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ProgramFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ExpandFileName("");
    std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind(PathDelim) + 1);
}

std::vector<TFolderEntry> FolderEntries(const std::string& folder, std::string_view extension) {
    namespace fs = std::filesystem;
    std::vector<TFolderEntry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty())
            break;
        if (name.size() < extension.size() ||
            !SameText(std::string_view(name).substr(name.size() - extension.size()), extension))
            continue;
        // An entry whose type cannot be read (a dangling link) counts as a
        // file: opening it then tells why it is no image.
        std::error_code typeError;
        const fs::file_type type = it->status(typeError).type();
        const bool special = type == fs::file_type::fifo || type == fs::file_type::character ||
                             type == fs::file_type::block || type == fs::file_type::socket;
        entries.push_back({name, type == fs::file_type::directory, special});
    }
    return entries;
}

void ReadFileStart(const std::string& path, std::span<std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        RaiseInOutError(errno);
    const TFileHandle file(fd);
    for (std::size_t got = 0; got < bytes.size();) {
        const ssize_t n = ReadSome(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0)
            RaiseInOutError(errno);
        if (n == 0)
            RaiseReadBeyondEnd();
        got += static_cast<std::size_t>(n);
    }
}

void WriteFileWhole(const std::string& path, std::string_view text, TSpecialTarget special) {
    const TWriteTarget target(path);
    if (target.Straight && special == TSpecialTarget::tgRefuse)
        RaiseNotRegularFile(path);
    if (!target.Straight)
        return TTemporaryFile(target.Path, path).Replace(target.Path, text);
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        RaiseWriteError(path, errno);
    const TFileHandle file(fd);
    if (!TTemporaryFile::WriteAll(fd, text))
        RaiseWriteError(path, errno);
}

void CheckWritable(const std::string& path, TSpecialTarget special) {
    if (special == TSpecialTarget::tgRefuse) {
        // Not truncated, and a pipe without a reader fails (ENXIO) rather
        // than waits for one.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENXIO)
            RaiseNotRegularFile(path);
        if (fd < 0 && errno != ENOENT)
            RaiseWriteError(path, errno);
        const TFileHandle file(fd);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode))
            RaiseNotRegularFile(path);
    }
    const TWriteTarget target(path);
    if (target.Straight) {
        // Opening a pipe to look could wait for its reader.
        if (::access(path.c_str(), W_OK) != 0)
            RaiseWriteError(path, errno);
        return;
    }
    const TTemporaryFile probe(target.Path, path);
}

int InOutErrorCode(int systemError) {
    switch (systemError) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
        return 5;
    default:
        return 0;
    }
}

// --- TFileStream --------------------------------------------------------------

TFileStream::TFileStream(const std::string& path, TOpenMode mode, TShareMode share)
    : path_(path), file_(OpenStreamFile(path, mode, share)) {}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    const ssize_t n = ReadSome(Descriptor(file_), buffer,
                               static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    if (n < 0)
        throw EReadError(Format("Stream read error: %s", SysErrorMessage(errno)));
    return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    const ssize_t n = ::write(Descriptor(file_), buffer,
                              static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    return ::lseek(Descriptor(file_), offset, whence);
}

std::int64_t TFileStream::Size() {
    return Stamp().Size;
}

TFileStamp TFileStream::Stamp() {
    struct stat st {};
    if (::fstat(Descriptor(file_), &st) != 0)
        return {};
    return {st.st_size, std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}
