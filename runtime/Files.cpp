#include "runtime/Files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Format.h"

std::string SysErrorMessage(int errnoValue) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(errnoValue, buf, sizeof buf);
    return text;
}

std::string ExpandFileName(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    std::string dir = cwd;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + path;
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
    return exe.substr(0, exe.rfind('/') + 1);
}

namespace {

struct InOutCondition {
    int code;
    const char* text; // null: "I/O error %d"
};

InOutCondition ConditionOf(int errnoValue) {
    switch (errnoValue) {
    case ENOENT:
        return {2, "File not found"};
    case ENOTDIR:
    case ENAMETOOLONG:
        return {3, "Invalid filename"};
    case EMFILE:
    case ENFILE:
        return {4, "Too many open files"};
    case EACCES:
    case EPERM:
    case EROFS:
        return {5, "File access denied"};
    default:
        return {errnoValue, nullptr};
    }
}

} // namespace

int InOutErrorCode(int errnoValue) {
    return ConditionOf(errnoValue).code;
}

void RaiseInOutError(int errnoValue) {
    const InOutCondition c = ConditionOf(errnoValue);
    if (c.text)
        throw EInOutError(c.text, c.code);
    throw EInOutError(Format("I/O error %d", errnoValue), c.code);
}

void RaiseReadBeyondEnd() {
    throw EInOutError("Read beyond end of file", 100);
}
