#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "runtime/Format.h"
#include "runtime/Sha256.h"
#include "runtime/Stream.h"
#include "tests/support/Failure.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"

// Each platform's own error numbers: POSIX's errno values by condition, and
// Windows' error codes, which are the classic codes themselves.
TEST(RaiseInOutError, MapsTheSystemErrorsOntoTheClassicCodes) {
    struct Row {
        int posixError;
        int windowsError;
        int code;
        const char* message;
    } rows[] = {
        {ENOENT, 2, 2, "File not found"},         {ENOTDIR, 3, 3, "Invalid filename"},
        {ENAMETOOLONG, 3, 3, "Invalid filename"}, {EMFILE, 4, 4, "Too many open files"},
        {ENFILE, 4, 4, "Too many open files"},    {EACCES, 5, 5, "File access denied"},
        {EPERM, 5, 5, "File access denied"},      {EROFS, 5, 5, "File access denied"},
        {EIO, 1117, -1, "I/O error %d"},          {EISDIR, 32, -1, "I/O error %d"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        const int err = PlatformValue(r.posixError, r.windowsError);
        const int code = r.code < 0 ? err : r.code;
        ExpectFailure<EInOutError>([&] { RaiseInOutError(err); }, Format(r.message, err),
                                   [&](const EInOutError& e) { EXPECT_EQ(e.ErrorCode(), code); });
    }
}

TEST(TFileStream, MissingFileNamesTheFullPathAndTheSystemText) {
    EXPECT_THROW_MSG(TFileStream("no-such-file.bin", TFileStream::TOpenMode::fmOpenRead),
                     EFOpenError,
                     "Cannot open file \"" + ExpandFileName("no-such-file.bin") + "\". " +
                         SysErrorMessage(PlatformValue(ENOENT, 2)));
    EXPECT_TRUE(std::filesystem::path(ExpandFileName("no-such-file.bin")).is_absolute());
}

TEST(ExpandFileName, MakesThePathAbsoluteAndResolvesDotSegmentsByTheTextAlone) {
    const std::string cwd = std::filesystem::current_path().string();
    // The rows in the platform's own form: on Windows with its separator,
    // absolute ones on drive C:.
    const auto native = [](std::string path) {
        if (kTestPlatform == TTestPlatform::tpWindows) {
            std::replace(path.begin(), path.end(), '/', '\\');
            if (path.starts_with('\\'))
                path = "C:" + path;
        }
        return path;
    };
    const struct {
        std::string path, expanded;
    } rows[] = {
        {"/images/./v1/../prog.bin", "/images/prog.bin"},
        {"/images//prog.bin", "/images/prog.bin"},
        {"/../prog.bin", "/prog.bin"},
        {"sub/../prog.bin", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        const std::string expanded =
            r.expanded.empty() ? cwd + PathDelim + "prog.bin" : native(r.expanded);
        EXPECT_EQ(ExpandFileName(native(r.path)), expanded);
    }
}

TEST(TFileStream, DenyWriteShutsWritersOutWhileOpenButNotReaders) {
    const std::string path = testing::TempDir() + "deny-write.bin";
    std::ofstream(path) << "image";
    constexpr auto DenyWrite = TFileStream::TShareMode::fmShareDenyWrite;
    {
        TFileStream first(path, TFileStream::TOpenMode::fmOpenRead, DenyWrite);
        EXPECT_NO_THROW(TFileStream(path, TFileStream::TOpenMode::fmOpenRead, DenyWrite));
        EXPECT_FALSE(WriterAdmitted(path));
    }
    EXPECT_TRUE(WriterAdmitted(path));
    {
        // A file that a writer holds is not opened at all.
        const TWriterHold writer(path);
        EXPECT_THROW(TFileStream(path, TFileStream::TOpenMode::fmOpenRead, DenyWrite), EFOpenError);
    }
    std::remove(path.c_str());
}

// Each row checks first (which must leave the file as it was), then writes.
// A failed write leaves the old content and no new file beside it.
TEST(WriteFileWhole, ReplacesTheFileWholeOrLeavesItAsItWas) {
    namespace fs = std::filesystem;
    const std::string folder = testing::TempDir() + "whole-" + ProcessTag() + PathDelim;
    fs::create_directories(folder);
    enum TKind { tkNew, tkExisting, tkFailing, tkDirectory, tkNoFolder };
    struct Row {
        const char* what;
        TKind kind;
        std::string content; // after the write
        int checkError, writeError;
    };
    const int directoryError = PlatformValue(EISDIR, 5); // access denied
    const int missingError = PlatformValue(ENOENT, 3);   // path not found
    const Row rows[] = {
        {"new file", tkNew, "new", 0, 0},
        {"replaced", tkExisting, "new", 0, 0},
        {"failing write", tkFailing, "old", 0, PlatformValue(EFBIG, 5)}, // access denied
        {"a directory", tkDirectory, "", directoryError, directoryError},
        {"no folder", tkNoFolder, "", missingError, missingError},
    };
    const auto content = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const auto expectFailure = [](const std::function<void()>& step, const std::string& path,
                                  int error) {
        if (error == 0) {
            EXPECT_NO_THROW(step());
            return;
        }
        ExpectFailure<EOSError>(step, Format("Cannot write %s: %s", path, SysErrorMessage(error)),
                                [&](const EOSError& e) { EXPECT_EQ(e.ErrorCode(), error); });
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path =
            folder + (row.kind == tkNoFolder ? "missing" + std::string(1, PathDelim) : "") +
            "result.json";
        if (row.kind == tkExisting || row.kind == tkFailing)
            std::ofstream(path, std::ios::binary) << "old";
        if (row.kind == tkDirectory)
            fs::create_directory(path);
        expectFailure([&] { CheckWritable(path); }, path, row.checkError);
        if (row.kind == tkExisting) {
            EXPECT_EQ(content(path), "old");
        }
        {
            std::optional<TFailingWrites> failing;
            if (row.kind == tkFailing)
                failing.emplace(path);
            expectFailure([&] { WriteFileWhole(path, "new"); }, path, row.writeError);
        }
        if (row.kind == tkDirectory) {
            EXPECT_TRUE(fs::is_directory(path));
        } else if (row.kind != tkNoFolder) {
            EXPECT_EQ(content(path), row.content);
        }
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != "result.json")
                left.push_back(entry.path().filename().string());
        EXPECT_TRUE(left.empty()) << left.front();
        fs::remove_all(path);
    }
    fs::remove_all(folder);
}

// A device is written to, never replaced: renaming over /dev/null would
// put a file in its place for every program of the machine.
TEST(WriteFileWhole, WritesADeviceStraight) {
    if (kTestPlatform == TTestPlatform::tpWindows)
        GTEST_SKIP() << "no device a program may replace";
    EXPECT_NO_THROW(CheckWritable("/dev/null"));
    EXPECT_NO_THROW(WriteFileWhole("/dev/null", "new"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgramWithItsSeparator) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), PathDelim);
    EXPECT_TRUE(FileExists(folder + PlatformValue("runtime_tests", "runtime_tests.exe"))) << folder;
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

// The program holds names as UTF-8, whatever script they are in; on Windows
// the file calls take them beyond the system's code page.
TEST(Files, FoldersAndFilesNamedInAnyScriptAreListedAndOpened) {
    const struct {
        const char* folder;
        const char* file;
    } rows[] = {
        {"Firmware Ünïcødé 版本", "Bild Ünï 版本.bin"},
        {"Fïrmwäre", "Prögram.bin"}, // within the Western code pages
        {"Images 📦", "📦.bin"},       // beyond 16 bits: a surrogate pair
    };
    const std::string base = testing::TempDir();
    const auto native = [](const std::string& utf8) {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.folder);
        const std::string folder = base + r.folder + PathDelim;
        const std::string path = folder + r.file;
        std::filesystem::create_directory(native(folder));
        std::ofstream(native(path), std::ios::binary) << "MPFS..";

        EXPECT_TRUE(DirectoryExists(folder));
        EXPECT_TRUE(FileExists(path));
        EXPECT_EQ(ExpandFileName(path), path);
        const auto entries = FolderEntries(folder, ".bin");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Name, r.file);
        std::uint8_t magic[4] = {};
        ReadFileStart(path, magic);
        EXPECT_EQ(std::string(magic, magic + 4), "MPFS");
        EXPECT_EQ(TFileStream(path, TFileStream::TOpenMode::fmOpenRead).Size(), 6);
        std::filesystem::remove_all(native(folder));
    }
}

// FIPS 180-2's examples, whole and fed in pieces, and a file's digest.
TEST(Sha256, DigestsWholeOrInPiecesAndAFileAsItsBytes) {
    const std::string million(1000000, 'a');
    struct Row {
        std::string text;
        const char* digest;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    TSha256 digest;
    TTempFolder folder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 10));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.text.data());
        digest.Update({bytes, row.text.size()});
        EXPECT_EQ(digest.HexDigest(), row.digest); // and starts anew
        for (std::size_t at = 0; at < row.text.size(); at += 4093)
            digest.Update({bytes + at, std::min<std::size_t>(4093, row.text.size() - at)});
        EXPECT_EQ(digest.HexDigest(), row.digest);
        const std::string path =
            folder.Write("image.bin", std::vector<std::uint8_t>(bytes, bytes + row.text.size()));
        EXPECT_EQ(FileSha256(path), row.digest);
    }
    EXPECT_THROW(FileSha256(folder.Path() + "missing.bin"), EFOpenError);
}
