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
    const std::string full = folder.WriteFile("ten", "0123456789").string();
    EXPECT_EQ(ReadLocalFile(full, 10), "0123456789");
    std::string error;
    EXPECT_FALSE(ReadLocalFile(full, 9, &error));
    EXPECT_NE(error.find("ten"), std::string::npos) << error;

    const struct {
        std::string name;
        void (*make)(const fs::path&);
    } unusable[] = {
        {"missing", [](const fs::path&) {}},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
        // A pipe with no writer would block an open for reading forever.
        {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
    };
    for (const auto& c : unusable) {
        c.make(folder / c.name);
        error.clear();
        EXPECT_FALSE(ReadLocalFile((folder / c.name).string(), 100, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(LocalFilesTest, ReplacesWithTheGivenModeOrLeavesTheOldFile) {
    TempFolder folder;
    const fs::path file = folder / "settings.reg";
    ::umask(::umask(0077));  // the mode must not depend on the umask
    ASSERT_TRUE(ReplaceLocalFile(file.string(), "first", 0644));
    EXPECT_EQ(ModeOf(file), 0644u);
    ASSERT_TRUE(ReplaceLocalFile(file.string(), "second", 0600));
    EXPECT_EQ(TempFolder::ReadFile(file), "second");
    EXPECT_EQ(ModeOf(file), 0600u);

    // A folder in the file's place: the rename fails and no temporary file stays behind.
    fs::create_directories(folder / "busy/inside");
    std::string error;
    EXPECT_FALSE(ReplaceLocalFile((folder / "busy").string(), "x", 0600, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReplaceLocalFile((folder / "missing/file").string(), "x", 0600, &error));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
    EXPECT_TRUE(fs::is_directory(folder / "busy/inside"));
}

TEST(LocalFilesTest, MakesFoldersOnlyWhereNothingElseIs) {
    TempFolder folder;
    EXPECT_TRUE(MakeLocalFolders((folder / "a/b/c").string()));
    EXPECT_EQ(ModeOf(folder / "a/b/c"), 0700u);
    EXPECT_TRUE(MakeLocalFolders((folder / "a/b").string()));
    folder.WriteFile("file", "");
    EXPECT_FALSE(MakeLocalFolders((folder / "file").string()));
    EXPECT_FALSE(MakeLocalFolders((folder / "file/below").string()));
    fs::create_symlink("nowhere", folder / "dangling");
    EXPECT_FALSE(MakeLocalFolders((folder / "dangling").string()));

    EXPECT_EQ(LocalParentFolder("/a/b.reg"), "/a");
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
