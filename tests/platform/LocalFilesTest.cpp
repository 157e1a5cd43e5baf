// Reads bounded to regular files, replacements whose mode does not depend on the umask and
// that leave nothing behind when they fail, private folders. The folder lock is
// SettingsStoreTest's (writers in two processes lose nothing).
#include "platform/LocalFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

TEST(LocalFilesTest, ReadsReplacesAndMakesFoldersOnlyWhereTheyMay) {
    TempFolder folder;
    const std::string ten = folder.WriteFile("ten", "0123456789").string();
    EXPECT_EQ(ReadLocalFile(ten, 10), "0123456789");
    fs::create_directory(folder / "folder");
    // A pipe with no writer would block an open for reading forever.
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    for (const char* name : {"ten", "missing", "folder", "fifo"}) {
        std::string error;
        EXPECT_FALSE(ReadLocalFile((folder / name).string(), 9, &error)) << name;
        EXPECT_NE(error.find((folder / name).string()), std::string::npos) << error;
    }

    const mode_t saved = ::umask(0077);
    EXPECT_TRUE(ReplaceLocalFile(ten, "replaced", 0644));
    ::umask(saved);
    EXPECT_EQ(fs::status(ten).permissions(), fs::perms(0644));
    EXPECT_EQ(TempFolder::ReadFile(ten), "replaced");
    // A folder in the file's place or no folder at all: the replace fails and cleans up.
    EXPECT_FALSE(ReplaceLocalFile((folder / "folder").string(), "x", 0600));
    EXPECT_FALSE(ReplaceLocalFile((folder / "missing/file").string(), "x", 0600));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 3);

    EXPECT_TRUE(MakeLocalFolders((folder / "a/b").string()));
    EXPECT_EQ(fs::status(folder / "a/b").permissions(), fs::perms(0700));
    fs::create_symlink("nowhere", folder / "dangling");
    for (const char* inTheWay : {"ten", "ten/below", "dangling"}) {
        EXPECT_FALSE(MakeLocalFolders((folder / inTheWay).string())) << inTheWay;
    }
}

}  // namespace
}  // namespace zephyrate
