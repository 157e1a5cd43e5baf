#include "platform/LocalFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(LocalFilesTest, ReadsRegularFilesUpToTheLimitOnly) {
    TempFolder folder;
    EXPECT_EQ(ReadLocalFile(folder.WriteFile("ten", "0123456789").string(), 10), "0123456789");
    fs::create_directory(folder / "folder");
    // A pipe with no writer would block an open for reading forever.
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    for (const char* name : {"ten", "missing", "folder", "fifo"}) {
        std::string error;
        EXPECT_FALSE(ReadLocalFile((folder / name).string(), 9, &error)) << name;
        EXPECT_NE(error.find((folder / name).string()), std::string::npos) << error;
    }
}

TEST(LocalFilesTest, ReplacesWithTheGivenModeOrLeavesNoTemporaryFile) {
    TempFolder folder;
    const std::string file = (folder / "settings.reg").string();
    const mode_t saved = ::umask(0077);  // the mode must not depend on the umask
    EXPECT_TRUE(ReplaceLocalFile(file, "first", 0644));
    EXPECT_EQ(ModeOf(file), 0644u);
    EXPECT_TRUE(ReplaceLocalFile(file, "second", 0600));
    ::umask(saved);
    EXPECT_EQ(TempFolder::ReadFile(file), "second");
    EXPECT_EQ(ModeOf(file), 0600u);

    // A folder in the file's place or no folder at all: the replace fails and cleans up.
    fs::create_directories(folder / "busy/inside");
    EXPECT_FALSE(ReplaceLocalFile((folder / "busy").string(), "x", 0600));
    EXPECT_FALSE(ReplaceLocalFile((folder / "missing/file").string(), "x", 0600));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 2);
    EXPECT_TRUE(fs::is_directory(folder / "busy/inside"));
}

TEST(LocalFilesTest, MakesPrivateFoldersOnlyWhereNothingElseIs) {
    TempFolder folder;
    EXPECT_TRUE(MakeLocalFolders((folder / "a/b/c").string()));
    EXPECT_EQ(ModeOf(folder / "a/b/c"), 0700u);
    folder.WriteFile("file", "");
    fs::create_symlink("nowhere", folder / "dangling");
    for (const char* inTheWay : {"file", "file/below", "dangling"}) {
        EXPECT_FALSE(MakeLocalFolders((folder / inTheWay).string())) << inTheWay;
    }
    EXPECT_EQ(LocalParentFolder("/b.reg"), "/");
    EXPECT_EQ(LocalParentFolder("b.reg"), ".");
}

TEST(LocalFilesTest, FolderLockExcludesOtherProcesses) {
    TempFolder folder;
    // Whether another process could take the lock right now.
    auto othersMayLock = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY);
            ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
        }
        int status = -1;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    };
    {
        FolderLock lock(folder.Path().string());
        ASSERT_TRUE(lock.Locked());
        EXPECT_FALSE(othersMayLock());
    }
    EXPECT_TRUE(othersMayLock());
    EXPECT_FALSE(FolderLock((folder / "missing").string()).Locked());
}

}  // namespace
}  // namespace zephyrate
