// The loader's tests that only Windows can set up: the scan against the
// platform's sharing modes and file attributes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/app/LoaderRig.h"
#include "tests/support/ImageFolder.h"

TEST(FolderScan, AnImageThatCannotBeReadEndsTheScanWithTheErrorBox) {
    TTempFolder folder;
    const std::string locked = folder.Write("locked.bin", ImageBytes(false, 1, 100));
    // A program that has the image open and lets no one else read it.
    const HANDLE holder = ::CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    TRig rig("127.000.000.089");
    rig.Window.SetDirEditText(folder.Path());
    ::CloseHandle(holder);
    EXPECT_EQ(rig.Window.Errors, Lines{"I/O error 32."}); // a sharing violation
    EXPECT_EQ(rig.Window.Index(TImageList::ilPrograms), -1);
    EXPECT_EQ(rig.Loader.ImageFolder, folder.Path());
}

TEST(FolderScan, HiddenSystemAndReadOnlyImagesAreScannedLikeAnyOther) {
    TTempFolder folder;
    const std::string hidden = folder.Write("hidden.bin", ImageBytes(false, 1, 100));
    ASSERT_TRUE(::SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                         FILE_ATTRIBUTE_READONLY));
    TRig rig("127.000.000.089");
    rig.Window.SetDirEditText(folder.Path());
    ::SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_NORMAL); // so the folder can go
    EXPECT_TRUE(rig.Window.Errors.empty()) << ::testing::PrintToString(rig.Window.Errors);
    EXPECT_EQ(rig.Window.List(TImageList::ilPrograms), Lines{"hidden.bin"});
}
