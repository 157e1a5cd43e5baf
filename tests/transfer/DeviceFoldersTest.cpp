#include "transfer/DeviceFolders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class DeviceFoldersTest : public FolderDeviceFixture {
  protected:
    DeviceFoldersTest() { job_.DeviceRoot = "\\Zephyrate"; }

    static auto EntriesBelow(const fs::path& folder) {
        return std::distance(fs::recursive_directory_iterator(folder), {});
    }
    std::string Trashed(std::string_view name) const {
        return TempFolder::ReadFile(root_ / "Zephyrate/Trash" / name);
    }
    bool Trash(std::string_view path) { return MoveToTrash(device_, job_, path); }

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
    const auto before = EntriesBelow(root_);
    EXPECT_TRUE(EnsureFolder(device_, "\\A\\B\\c"));
    EXPECT_TRUE(EnsureFolder(device_, "\\a"));
    EXPECT_EQ(EntriesBelow(root_), before);

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
}

TEST_F(DeviceFoldersTest, MoveToTrashTakesTheLowestFreeNumber) {
    temp_.WriteFile("device/Zephyrate/Trash/index.htm.001", "old");
    temp_.WriteFile("device/Zephyrate/Trash/INDEX.HTM.003", "third");
    // The gap is filled first; then the upper-case name counts as taken.
    for (const auto& [content, name] :
         {std::pair{"second", "index.htm.002"}, {"fourth", "index.htm.004"}}) {
        temp_.WriteFile("device/Zephyrate/news/index.htm", content);
        EXPECT_TRUE(Trash("\\Zephyrate\\news\\index.htm"));
        EXPECT_FALSE(fs::exists(root_ / "Zephyrate/news/index.htm"));
        EXPECT_EQ(Trashed(name), content);
    }
    EXPECT_EQ(Trashed("index.htm.001"), "old");
    EXPECT_EQ(Trashed("INDEX.HTM.003"), "third");

    // After .999 comes .1000.
    for (int n = 1; n <= 999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Zephyrate/Trash/a.txt.%03d", n);
        std::ofstream(root_ / name).put('x');
    }
    temp_.WriteFile("device/Zephyrate/a.txt", "a");
    EXPECT_TRUE(Trash("\\Zephyrate\\a.txt"));
    EXPECT_EQ(Trashed("a.txt.1000"), "a");
}

TEST_F(DeviceFoldersTest, MoveToTrashNeedsABackslashAndAnExistingTrash) {
    temp_.WriteFile("device/Zephyrate/news/docs/a.txt", "a");
    temp_.WriteFile("device/loose.txt", "l");
    // No trash folder: the move fails, the file stays and no folder appears.
    EXPECT_FALSE(Trash("\\Zephyrate\\news\\docs/a.txt"));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/docs/a.txt"));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/Trash"));
    EXPECT_FALSE(Trash("loose.txt"));
    EXPECT_FALSE(Trash("Zephyrate/news/docs/a.txt"));

    // Only '\' ends the folder part, so "docs/a.txt" goes to a sub-folder of the trash.
    fs::create_directories(root_ / "Zephyrate/trash");
    EXPECT_FALSE(Trash("\\Zephyrate\\news\\docs/a.txt"));
    fs::create_directories(root_ / "Zephyrate/trash/docs");
    EXPECT_TRUE(Trash("\\Zephyrate\\news\\docs/a.txt"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/trash/docs/a.txt.001"), "a");
    EXPECT_FALSE(Trash("\\Zephyrate\\gone.txt"));
    // The trash takes files only: a folder, and the files in it, stay where they are.
    EXPECT_FALSE(Trash("\\Zephyrate\\news\\docs"));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/docs"));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/trash/docs.001"));
}

TEST_F(DeviceFoldersTest, EmptyTrashDeletesItsFilesOnly) {
    // Without the folder: false, and nothing is created.
    fs::create_directories(root_ / "Zephyrate");
    EXPECT_FALSE(EmptyTrash(device_, job_));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/Trash"));

    temp_.WriteFile("device/Zephyrate/Trash/a.txt.001", "a");
    temp_.WriteFile("device/Zephyrate/Trash/\xC3\xA9t\xC3\xA9.001", "e");
    temp_.WriteFile("device/Zephyrate/Trash/bad\xFF\xFE.001", "b");  // not UTF-8
    temp_.WriteFile("device/Zephyrate/Trash/.hidden.001", "h");
    temp_.WriteFile("device/Zephyrate/Trash/sub/kept.txt", "k");
    temp_.WriteFile("device/Zephyrate/news/a.txt", "live");

    EXPECT_TRUE(EmptyTrash(device_, job_));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/Trash/sub/kept.txt"));
    EXPECT_EQ(EntriesBelow(root_ / "Zephyrate/Trash"), 2) << "only the sub-folder is left";
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/a.txt"));
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
}

}  // namespace
}  // namespace zephyrate::test
