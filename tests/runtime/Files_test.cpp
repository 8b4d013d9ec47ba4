#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "runtime/Stream.h"
#include "tests/support/Failure.h"

TEST(RaiseInOutError, MapsErrnoByConditionOntoTheClassicCodes) {
    struct Row {
        int err;
        int code;
        const char* message;
    } rows[] = {
        {ENOENT, 2, "File not found"},
        {ENOTDIR, 3, "Invalid filename"},
        {ENAMETOOLONG, 3, "Invalid filename"},
        {EMFILE, 4, "Too many open files"},
        {ENFILE, 4, "Too many open files"},
        {EACCES, 5, "File access denied"},
        {EPERM, 5, "File access denied"},
        {EROFS, 5, "File access denied"},
        {EIO, EIO, "I/O error 5"},
        {EISDIR, EISDIR, "I/O error 21"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        ExpectFailure<EInOutError>([&] { RaiseInOutError(r.err); }, r.message,
                                   [&](const EInOutError& e) { EXPECT_EQ(e.ErrorCode(), r.code); });
    }
}

TEST(TFileStream, MissingFileNamesTheFullPathAndTheSystemText) {
    EXPECT_THROW_MSG(TFileStream("no-such-file.bin", TFileStream::TOpenMode::fmOpenRead),
                     EFOpenError,
                     "Cannot open file \"" + ExpandFileName("no-such-file.bin") +
                         "\". No such file or directory");
    EXPECT_TRUE(std::filesystem::path(ExpandFileName("no-such-file.bin")).is_absolute());
}

TEST(ExpandFileName, MakesThePathAbsoluteAndResolvesDotSegmentsByTheTextAlone) {
    const std::string cwd = std::filesystem::current_path().string();
    const struct {
        std::string path, expanded;
    } rows[] = {
        {"/images/./v1/../prog.bin", "/images/prog.bin"},
        {"/images//prog.bin", "/images/prog.bin"},
        {"/../prog.bin", "/prog.bin"},
        {"sub/../prog.bin", cwd + "/prog.bin"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(ExpandFileName(r.path), r.expanded);
    }
}

TEST(TFileStream, DenyWriteShutsWritersOutWhileOpenButNotReaders) {
    const std::string path = testing::TempDir() + "deny-write.bin";
    std::ofstream(path) << "image";
    // A writer that plays by the rules takes the exclusive lock first.
    const auto writerAdmitted = [&path] {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        const bool admitted = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return admitted;
    };
    constexpr auto DenyWrite = TFileStream::TShareMode::fmShareDenyWrite;
    {
        TFileStream first(path, TFileStream::TOpenMode::fmOpenRead, DenyWrite);
        EXPECT_NO_THROW(TFileStream(path, TFileStream::TOpenMode::fmOpenRead, DenyWrite));
        EXPECT_FALSE(writerAdmitted());
    }
    EXPECT_TRUE(writerAdmitted());
    std::remove(path.c_str());
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgramWithItsSeparator) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), PathDelim);
    EXPECT_TRUE(FileExists(folder + "runtime_tests")) << folder;
}

TEST(TStream, CopyFromTakesTheWholeSourceFromItsStart) {
    const std::string path = testing::TempDir() + "stream-copy.bin";
    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;

    TFileStream file(path, TFileStream::TOpenMode::fmOpenRead);
    char skip[10];
    file.Read(skip, sizeof skip);
    TMemoryStream memory;
    memory.CopyFrom(file);
    EXPECT_EQ(memory.Text(), content);
    std::remove(path.c_str());
}
