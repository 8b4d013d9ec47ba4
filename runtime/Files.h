// File-system queries and file failures of the runtime, on POSIX: the texts
// and I/O error codes that the loader shows for files, the program's folder.
#pragma once

#include <string>

/// The system's text for an errno value.
std::string SysErrorMessage(int errnoValue);

/// The path made absolute against the current folder (no symlinks resolved).
std::string ExpandFileName(const std::string& path);

/// True when path names an existing directory.
bool DirectoryExists(const std::string& path);

/// True when path names an existing file that is not a directory.
bool FileExists(const std::string& path);

/// The folder of the running program, ending in "/".
std::string ProgramFolder();

/// The classic I/O error code for an errno value, by condition:
/// ENOENT 2; ENOTDIR, ENAMETOOLONG 3; EMFILE, ENFILE 4; EACCES, EPERM, EROFS 5;
/// any other value is returned as it is.
int InOutErrorCode(int errnoValue);

/// Throws EInOutError for a failed file open or read, with the classic texts:
/// "File not found", "Invalid filename", "Too many open files",
/// "File access denied", else "I/O error %d" with the errno value.
[[noreturn]] void RaiseInOutError(int errnoValue);

/// Throws EInOutError 100 "Read beyond end of file".
[[noreturn]] void RaiseReadBeyondEnd();
