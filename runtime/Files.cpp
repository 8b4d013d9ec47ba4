// The file failures every platform shares: the classic I/O error texts and
// the open and write failures' texts. The platform's numbers reach them through
// InOutErrorCode and SysErrorMessage, which the platform file defines.
#include "runtime/Files.h"

#include <filesystem>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

constexpr const char* OpenErrorText = "Cannot open file \"%s\". %s";

} // namespace

void RaiseInOutError(int systemError) {
    switch (const int code = InOutErrorCode(systemError)) {
    case 2:
        throw EInOutError("File not found", code);
    case 3:
        throw EInOutError("Invalid filename", code);
    case 4:
        throw EInOutError("Too many open files", code);
    case 5:
        throw EInOutError("File access denied", code);
    default:
        throw EInOutError(Format("I/O error %d", systemError), systemError);
    }
}

void RaiseReadBeyondEnd() {
    throw EInOutError("Read beyond end of file", 100);
}

void RaiseOpenError(const std::string& path, int systemError) {
    throw EFOpenError(Format(OpenErrorText, ExpandFileName(path), SysErrorMessage(systemError)));
}

void RaiseWriteError(const std::string& path, int systemError) {
    throw EOSError(Format("Cannot write %s: %s", path, SysErrorMessage(systemError)), systemError);
}

void RaiseNotRegularFile(const std::string& path) {
    // No system error number says this: the open itself succeeded.
    throw EFOpenError(Format(OpenErrorText, ExpandFileName(path), "Not a regular file"));
}

bool PathInFolder(const std::string& path, const std::string& folder) {
    // std::filesystem is the same on every platform; paths go in as UTF-8.
    namespace fs = std::filesystem;
    const auto native = [](const std::string& text) {
        return fs::path(std::u8string(text.begin(), text.end()));
    };
    std::error_code error;
    fs::path at = fs::weakly_canonical(fs::absolute(native(path), error), error);
    if (error)
        return false;
    // Without its separator at the end: MinGW's std::filesystem finds a
    // folder given with one equivalent to nothing, itself included.
    const fs::path root = fs::canonical(native(folder), error);
    if (error)
        return false;
    // The same folder by identity, not by name: a link, another spelling or
    // another letter case of it counts.
    for (;; at = at.parent_path()) {
        std::error_code none;
        if (fs::equivalent(at, root, none))
            return true;
        if (!at.has_relative_path())
            return false;
    }
}
