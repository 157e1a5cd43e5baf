#include "transfer/DeviceFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class DeviceFoldersTest : public FolderDeviceFixture {
  protected:
    DeviceFoldersTest() { job_.DeviceRoot = "\\Zephyrate"; }

    std::size_t EntriesBelow(const fs::path& folder) {
        std::size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(folder);
             it != fs::recursive_directory_iterator(); ++it) {
            ++count;
        }
        return count;
    }

    void WriteRegistry(std::string_view dataPathLine) {
        temp_.WriteFile("device/.registry.reg",
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\r\n" +
                            std::string(dataPathLine) + "\r\n");
    }

    JobValues job_;
};

TEST_F(DeviceFoldersTest, EnsureFolderCreatesMissingParentsTopDown) {
    fs::create_directories(root_ / "a");
    EXPECT_TRUE(EnsureFolder(device_, "\\a\\b\\c"));
    EXPECT_TRUE(fs::is_directory(root_ / "a/b/c"));

    // Existing folders, in any letter case, are found and nothing is created.
    const std::size_t before = EntriesBelow(root_);
    EXPECT_TRUE(EnsureFolder(device_, "\\A\\B\\c"));
    EXPECT_TRUE(EnsureFolder(device_, "\\a"));
    EXPECT_EQ(EntriesBelow(root_), before);

    // Names keep their case; characters above 0x7F are found again.
    EXPECT_TRUE(EnsureFolder(device_, "\\A\\\xC3\xA9t\xC3\xA9/New"));
    EXPECT_TRUE(fs::is_directory(root_ / "a/\xC3\xA9t\xC3\xA9/New"));
    EXPECT_TRUE(EnsureFolder(device_, "\\a\\\xC3\xA9t\xC3\xA9\\new"));
    EXPECT_EQ(EntriesBelow(root_), before + 2);

    // A trailing separator names the folder before it, which then exists afterwards.
    EXPECT_TRUE(EnsureFolder(device_, "\\windows\\favorites\\"));
    EXPECT_TRUE(fs::is_directory(root_ / "windows/favorites"));
}

TEST_F(DeviceFoldersTest, EnsureFolderFailsOnFilesAndOtherErrors) {
    temp_.WriteFile("device/a/file.txt", "f");
    EXPECT_FALSE(EnsureFolder(device_, "\\a\\file.txt"));
    EXPECT_FALSE(EnsureFolder(device_, "\\a\\file.txt\\sub"));
    EXPECT_TRUE(fs::is_regular_file(root_ / "a/file.txt"));

    // An error other than "not found" stops at once: nothing is created.
    EXPECT_FALSE(EnsureFolder(device_, "\\new\\..\\b"));
    EXPECT_FALSE(fs::exists(root_ / "new"));
    FolderDevice unlinked((temp_ / "device").string(), false);
    EXPECT_FALSE(EnsureFolder(unlinked, "\\x\\y"));
    EXPECT_FALSE(fs::exists(root_ / "x"));
}

TEST_F(DeviceFoldersTest, MoveToTrashTakesTheLowestFreeNumber) {
    temp_.WriteFile("device/Zephyrate/Trash/index.htm.001", "old");
    for (const char* content : {"second", "third", "fourth"}) {
        temp_.WriteFile("device/Zephyrate/news/index.htm", content);
        EXPECT_TRUE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\index.htm"));
    }
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/index.htm.001"), "old");
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/index.htm.002"), "second");
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/index.htm.004"), "fourth");
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/news/index.htm"));

    // A gap is filled first, whatever the case of the names in the trash.
    fs::remove(root_ / "Zephyrate/Trash/index.htm.002");
    fs::rename(root_ / "Zephyrate/Trash/index.htm.003", root_ / "Zephyrate/Trash/INDEX.HTM.003");
    temp_.WriteFile("device/Zephyrate/news/index.htm", "gap");
    EXPECT_TRUE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\index.htm"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/index.htm.002"), "gap");
    temp_.WriteFile("device/Zephyrate/news/index.htm", "next");
    EXPECT_TRUE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\index.htm"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/index.htm.005"), "next");
}

TEST_F(DeviceFoldersTest, MoveToTrashCountsPastNineHundredNinetyNine) {
    fs::create_directories(root_ / "Zephyrate/Trash");
    for (int n = 1; n <= 999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "a.txt.%03d", n);
        std::FILE* file = std::fopen((root_ / "Zephyrate/Trash" / name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    temp_.WriteFile("device/Zephyrate/a.txt", "a");
    EXPECT_TRUE(MoveToTrash(device_, job_, "\\Zephyrate\\a.txt"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/a.txt.1000"), "a");
}

TEST_F(DeviceFoldersTest, MoveToTrashNeedsABackslashAndAnExistingTrash) {
    temp_.WriteFile("device/Zephyrate/news/docs/a.txt", "a");
    temp_.WriteFile("device/loose.txt", "l");
    // No trash folder: the move fails, the file stays and no folder appears.
    EXPECT_FALSE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\docs/a.txt"));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/docs/a.txt"));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/Trash"));
    EXPECT_FALSE(MoveToTrash(device_, job_, "loose.txt"));
    EXPECT_FALSE(MoveToTrash(device_, job_, "Zephyrate/news/docs/a.txt"));

    // Only '\' ends the folder part, so "docs/a.txt" goes to a sub-folder of the trash.
    fs::create_directories(root_ / "Zephyrate/trash");
    EXPECT_FALSE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\docs/a.txt"));
    fs::create_directories(root_ / "Zephyrate/trash/docs");
    EXPECT_TRUE(MoveToTrash(device_, job_, "\\Zephyrate\\news\\docs/a.txt"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/trash/docs/a.txt.001"), "a");
    // A file that is not there cannot be moved.
    EXPECT_FALSE(MoveToTrash(device_, job_, "\\Zephyrate\\gone.txt"));
}

TEST_F(DeviceFoldersTest, EmptyTrashDeletesItsFilesOnly) {
    temp_.WriteFile("device/Zephyrate/Trash/a.txt.001", "a");
    temp_.WriteFile("device/Zephyrate/Trash/\xC3\xA9t\xC3\xA9.001", "e");
    temp_.WriteFile("device/Zephyrate/Trash/bad\xFF\xFE.001", "b");  // not UTF-8
    temp_.WriteFile("device/Zephyrate/Trash/sub/kept.txt", "k");
    temp_.WriteFile("device/Zephyrate/Trash/ro.txt.001", "r");
    MakeReadOnly(root_ / "Zephyrate/Trash/ro.txt.001");
    temp_.WriteFile("device/Zephyrate/news/a.txt", "live");

    EXPECT_TRUE(EmptyTrash(device_, job_));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(root_ / "Zephyrate/Trash")) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    // The read-only copy stays (the device refuses it) and is tried again next time.
    EXPECT_EQ(left, (std::vector<std::string>{"ro.txt.001", "sub"}));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/Trash/sub/kept.txt"));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/a.txt"));
    EXPECT_TRUE(EmptyTrash(device_, job_));
}

TEST_F(DeviceFoldersTest, EmptyTrashWithoutTheFolderCreatesNothing) {
    fs::create_directories(root_ / "Zephyrate");
    EXPECT_FALSE(EmptyTrash(device_, job_));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/Trash"));
    job_.DeviceRoot = "";
    temp_.WriteFile("device/Trash/x.001", "x");
    EXPECT_TRUE(EmptyTrash(device_, job_));
    EXPECT_FALSE(fs::exists(root_ / "Trash/x.001"));
}

TEST_F(DeviceFoldersTest, ReadDataPathTakesValuesOfAtMost255Bytes) {
    job_.DataPath = "stale";
    EXPECT_FALSE(ReadDataPath(device_, job_));  // no registry file
    EXPECT_EQ(job_.DataPath, "");

    WriteRegistry("\"DataPath\"=\"\\\\Storage Card\\\\\xC3\xA9t\xC3\xA9\"");
    EXPECT_TRUE(ReadDataPath(device_, job_));
    EXPECT_EQ(job_.DataPath, "\\Storage Card\\\xC3\xA9t\xC3\xA9");

    // 126 characters and the zero fill 254 bytes; 127 need 256 and count as absent.
    const std::string fits(126, 'd');
    WriteRegistry("\"DataPath\"=\"" + fits + "\"");
    EXPECT_TRUE(ReadDataPath(device_, job_));
    EXPECT_EQ(job_.DataPath, fits);
    WriteRegistry("\"DataPath\"=\"" + fits + "d\"");
    EXPECT_FALSE(ReadDataPath(device_, job_));
    EXPECT_EQ(job_.DataPath, "");

    job_.DataPath = "stale";
    WriteRegistry("\"Other\"=\"x\"");
    EXPECT_FALSE(ReadDataPath(device_, job_));
    EXPECT_EQ(job_.DataPath, "");
}

}  // namespace
}  // namespace zephyrate::test
