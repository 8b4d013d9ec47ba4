// The runtime's file operations on Windows: every file-system call of the
// program is here, and GetLastError becomes a classic I/O error code or the
// system's text right after the call that set it. The platform's error codes
// are the classic ones already (2 file not found, 3 invalid filename, 4 too
// many open files, 5 access denied), so nothing is translated. Nothing but the
// platform's side of Files.h and of TFileStream belongs here; shared texts
// are in Files.cpp. Paths and the system's texts go through the W calls,
// converted from and to the program's UTF-8 right at the call (WideText.h),
// so that a folder or file of any name opens, whatever the code page.
#include "runtime/Files.h"

#include <algorithm>
#include <atomic>
#include <iterator>

#include <windows.h>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "runtime/WideText.h"

extern const char PathDelim = '\\';

namespace {

HANDLE Win32Handle(const TFileHandle& file) {
    return reinterpret_cast<HANDLE>(file.Get());
}

int LastError() {
    return static_cast<int>(::GetLastError());
}

/// Opens an existing file; the failure's code is GetLastError's, untouched.
HANDLE OpenExisting(const std::string& path, DWORD access, DWORD share) {
    return ::CreateFileW(WideText(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

TFileHandle OpenStreamFile(const std::string& path, TFileStream::TOpenMode mode,
                           TFileStream::TShareMode share) {
    const DWORD access =
        mode == TFileStream::TOpenMode::fmOpenRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    // Shutting writers out is the platform's own sharing mode: while the
    // stream is open, an open for writing fails with a sharing violation,
    // and so does this open while a writer holds the file.
    const DWORD shareMode = share == TFileStream::TShareMode::fmShareDenyWrite
                                ? FILE_SHARE_READ
                                : FILE_SHARE_READ | FILE_SHARE_WRITE;
    // A directory refuses to open without backup semantics, with access denied.
    const HANDLE h = OpenExisting(path, access, shareMode);
    if (h == INVALID_HANDLE_VALUE)
        RaiseOpenError(path, LastError());
    TFileHandle file(reinterpret_cast<file_t>(h));
    // A device (NUL, COM1, also as "nul.bin" in any folder) or a named pipe
    // opens here too, but none is a file to stream: NUL reads as empty, a
    // pipe or a port waits for its other end.
    if (::GetFileType(h) != FILE_TYPE_DISK)
        RaiseNotRegularFile(path);
    return file;
}

bool HasExtension(const std::string& name, std::string_view extension) {
    return name.size() >= extension.size() &&
           SameText(std::string_view(name).substr(name.size() - extension.size()), extension);
}

/// The attributes of path, INVALID_FILE_ATTRIBUTES for none.
DWORD Attributes(const std::string& path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(WideText(path).c_str());
}

/// Owns a folder enumeration.
struct FindHandle {
    HANDLE h;
    ~FindHandle() {
        if (h != INVALID_HANDLE_VALUE)
            ::FindClose(h);
    }
};

/// A new file beside target under a name no other file has, removed again
/// unless it took target's place. Failures name path, as the caller gave it.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& target, const std::string& path) : path_(path) {
        static std::atomic<unsigned> made{0};
        for (int attempt = 1;; ++attempt) {
            name_ = Format("%s.%d-%d.tmp", target, ::GetCurrentProcessId(), made++);
            const HANDLE h = ::CreateFileW(WideText(name_).c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                file_ = TFileHandle(reinterpret_cast<file_t>(h));
                return;
            }
            // A name left by an earlier process with this id: the next one,
            // a bounded number of times (a device answers every name).
            if (::GetLastError() != ERROR_FILE_EXISTS || attempt == 100)
                RaiseWriteError(path_, LastError());
        }
    }
    ~TTemporaryFile() {
        file_ = TFileHandle(); // a file is removed once closed
        if (!name_.empty())
            ::DeleteFileW(WideText(name_).c_str());
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    /// Writes text, flushes it to the disk, and moves the file over target.
    void Replace(const std::string& target, std::string_view text) {
        for (; !text.empty();) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 30));
            if (!::WriteFile(Win32Handle(file_), text.data(), want, &n, nullptr))
                RaiseWriteError(path_, LastError());
            text.remove_prefix(n);
        }
        if (!::FlushFileBuffers(Win32Handle(file_)))
            RaiseWriteError(path_, LastError());
        file_ = TFileHandle();
        if (!::MoveFileExW(WideText(name_).c_str(), WideText(target).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            RaiseWriteError(path_, LastError());
        name_.clear();
    }

private:
    std::string path_, name_;
    TFileHandle file_;
};

/// Throws for a path that names a directory or a read-only file, which a
/// move would not replace (the move says access denied as well).
void RefuseUnreplaceable(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(WideText(path).c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        RaiseWriteError(path, ERROR_ACCESS_DENIED);
}

/// Throws for a path that names a device or a pipe, or an existing file
/// that does not open for writing; opened without truncating it, and
/// without waiting (a pipe with no free instance fails at once).
void RefuseSpecial(const std::string& path) {
    const HANDLE h =
        OpenExisting(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (h == INVALID_HANDLE_VALUE) {
        const int error = LastError();
        if (error != ERROR_FILE_NOT_FOUND)
            RaiseWriteError(path, error);
        return;
    }
    const TFileHandle file(reinterpret_cast<file_t>(h));
    if (::GetFileType(h) != FILE_TYPE_DISK)
        RaiseNotRegularFile(path);
}

} // namespace

TFileHandle::~TFileHandle() {
    if (handle_ != InvalidFile)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string SysErrorMessage(int systemError) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(systemError), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = Utf8Text(std::wstring_view(text ? text : L"", n));
    if (text)
        ::LocalFree(text);
    // The system ends its texts in a period and a line break; the messages
    // that quote them add their own punctuation, as with the POSIX texts.
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string ExpandFileName(const std::string& path) {
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameW(WideText(path).c_str(), std::size(buf), buf, nullptr);
    if (n == 0 || n >= std::size(buf))
        return path;
    return Utf8Text(std::wstring_view(buf, n));
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ProgramFolder() {
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, buf, std::size(buf));
    if (n == 0 || n >= std::size(buf))
        return ExpandFileName(".\\");
    const std::string exe = Utf8Text(std::wstring_view(buf, n));
    return exe.substr(0, exe.find_last_of("\\/") + 1);
}

std::vector<TFolderEntry> FolderEntries(const std::string& folder, std::string_view extension) {
    std::vector<TFolderEntry> entries;
    if (folder.empty())
        return entries;
    std::string pattern = folder;
    if (pattern.back() != '\\' && pattern.back() != '/')
        pattern += PathDelim;
    pattern += "*";
    pattern += extension;
    // FindFirstFile reports every entry, hidden, system and read-only ones
    // included; there is no attribute filter to get wrong.
    WIN32_FIND_DATAW found{};
    const FindHandle find{::FindFirstFileW(WideText(pattern).c_str(), &found)};
    if (find.h == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::string name = Utf8Text(found.cFileName);
        if (name.empty())
            break;
        // The pattern also matches through the short 8.3 name ("a.binary" is
        // "A~1.BIN"); only names that really end in the extension count.
        if (HasExtension(name, extension))
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(find.h, &found));
    return entries;
}

void ReadFileStart(const std::string& path, std::span<std::uint8_t> bytes) {
    // Reading only, and others' readers and writers are let in: the scan
    // must not disturb a program that has the image open.
    const HANDLE h =
        OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (h == INVALID_HANDLE_VALUE)
        RaiseInOutError(LastError());
    const TFileHandle file(reinterpret_cast<file_t>(h));
    for (std::size_t got = 0; got < bytes.size();) {
        DWORD n = 0;
        if (!::ReadFile(h, bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr))
            RaiseInOutError(LastError());
        if (n == 0)
            RaiseReadBeyondEnd();
        got += n;
    }
}

void WriteFileWhole(const std::string& path, std::string_view text, TSpecialTarget special) {
    RefuseUnreplaceable(path);
    if (special == TSpecialTarget::tgRefuse)
        RefuseSpecial(path);
    TTemporaryFile(path, path).Replace(path, text);
}

void CheckWritable(const std::string& path, TSpecialTarget special) {
    RefuseUnreplaceable(path);
    if (special == TSpecialTarget::tgRefuse)
        RefuseSpecial(path);
    const TTemporaryFile probe(path, path);
}

int InOutErrorCode(int systemError) {
    switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_ACCESS_DENIED:
        return systemError;
    default:
        return 0;
    }
}

// --- TFileStream --------------------------------------------------------------

TFileStream::TFileStream(const std::string& path, TOpenMode mode, TShareMode share)
    : path_(path), file_(OpenStreamFile(path, mode, share)) {}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::clamp<std::int64_t>(count, 0, 0x40000000));
    if (!::ReadFile(Win32Handle(file_), buffer, want, &n, nullptr))
        throw EReadError(Format("Stream read error: %s", SysErrorMessage(LastError())));
    return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::clamp<std::int64_t>(count, 0, 0x40000000));
    return ::WriteFile(Win32Handle(file_), buffer, want, &n, nullptr) ? n : 0;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                         : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                            : FILE_END;
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(Win32Handle(file_), distance, &position, method))
        return -1;
    return position.QuadPart;
}

std::int64_t TFileStream::Size() {
    return Stamp().Size;
}

TFileStamp TFileStream::Stamp() {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(Win32Handle(file_), &info))
        return {};
    const auto join = [](DWORD high, DWORD low) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    };
    // The last write time in the system's 100-nanosecond units.
    return {join(info.nFileSizeHigh, info.nFileSizeLow),
            join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)};
}
