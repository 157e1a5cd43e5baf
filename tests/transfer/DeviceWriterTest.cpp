// The device writer and the device's folders on a real device folder: chunks, reports and
// stamp; the temporary file that takes the old copy's place only when complete; old copies
// the device refuses to replace; a device without room for two copies; making folders, the
// trash folder, the data path.
#include "transfer/DeviceWriter.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/InternetError.h"
#include "platform/MemoryFile.h"
#include "tests/support/ConsoleFixture.h"
#include "tests/support/RawHttpServer.h"
#include "transfer/DeviceFolders.h"

namespace zephyrate::test {
namespace {

class DeviceWriterTest : public ConsoleFixture {
  protected:
    DeviceWriterTest() {
        entry_.SetFile("docs/a.bin");
        entry_.ServerTime = kStamp;
    }
    bool Write(const std::string& contents, std::string_view path) {
        MemoryFile source;
        source.Write(contents.data(), contents.size());
        return WriteToDevice(context_, entry_, source, path, 0);
    }
    std::ptrdiff_t Count(std::string_view folder) const {
        return std::distance(fs::directory_iterator(OnDevice(folder)), {});
    }
    FileEntry entry_;
};

TEST_F(DeviceWriterTest, OneReportPerChunkWithTheBytesTheDeviceTookAndTheServerStamp) {
    using Sizes = std::vector<std::size_t>;
    for (const auto& [size, reported] : {std::pair{std::size_t{0}, Sizes{0}},
                                         {4097, Sizes{4096, 4097}},
                                         {8192, Sizes{4096, 8192, 8192}}}) {
        SCOPED_TRACE(size);
        surface_.Clear();
        const std::string contents(size, static_cast<char>('a' + size % 26));
        EXPECT_TRUE(Write(contents, "\\Zephyrate\\news\\docs/a.bin"));
        Texts reports;
        for (const std::size_t done : reported) {
            reports.push_back("Retrieving: docs/a.bin  " + std::to_string(done) + "/???");
        }
        EXPECT_EQ(surface_.EventsOf("status"), reports);
        const fs::path file = OnDevice("Zephyrate/news/docs/a.bin");
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);  // before reading it moves the access time
        EXPECT_EQ(std::pair(info.st_mtime, info.st_atime), std::pair(kStamp, kStamp));
        EXPECT_EQ(Read(file), contents);
    }
    EXPECT_EQ(Job().PresentObjects, Texts(3, "\\Zephyrate\\news\\docs/a.bin"));
}

// Stopped by the user between chunks or cut short by the server, a write leaves the old
// copy as it was and no temporary file; a stop leaves its code in the entry.
TEST_F(DeviceWriterTest, AWriteThatBreaksOffLeavesTheOldCopy) {
    RawHttpServer cut([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(20000, 'x'));
    });
    Place("device/news/a.bin", "the old copy", kStamp);
    for (const int stop : {1, -1}) {
        stop == 1 ? console_.Control().SetCancelThisJob() : console_.Control().SetCancelAll();
        EXPECT_FALSE(Write(std::string(10000, 'n'), "\\news\\a.bin"));
        EXPECT_EQ(entry_.Result, stop);
    }
    const std::unique_ptr<HttpFile> response = session_.OpenURL(cut.Url("/a.bin"));
    EXPECT_THROW(WriteToDevice(context_, entry_, *response, "\\news\\a.bin", 0), InternetError);
    EXPECT_EQ(Read(OnDevice("news/a.bin")), "the old copy");
    EXPECT_EQ(Count("news"), 1) << "a leftover";
    EXPECT_TRUE(Job().PresentObjects.empty());
}

// Old copies the device will not delete (locked by another program, read-only) go to the
// trash under the lowest free number and the new file takes their place; without a trash
// folder the write fails and the old copy stays. A folder that stands where the file must go
// holds the user's files: it stays, out of the trash, and the entry fails. What a killed run
// left is removed when its folder is next written.
TEST_F(DeviceWriterTest, OldCopiesGoToTheTrashFoldersInTheWayStayStaleTemporariesGo) {
    chmod(temp_.WriteFile("device/news/b.txt", "read-only").c_str(), 0444);
    temp_.WriteFile("device/news/.gone.txt.zephyrate-part", "stale");
    temp_.WriteFile("device/news/.keep", "the user's");
    EXPECT_FALSE(Write("new b", "\\news\\b.txt"));
    EXPECT_EQ(Read(OnDevice("news/b.txt")), "read-only");

    const fs::path locked = temp_.WriteFile("device/news/a.txt", "locked");
    temp_.WriteFile("device/news/c.txt/inside.txt", "the user's");
    temp_.WriteFile("device/Zephyrate/Trash/a.txt.002", "older");
    const int lock = open(locked.c_str(), O_RDONLY | O_CLOEXEC);  // another open file's lock
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(Write("new a", "\\news\\a.txt"));
    close(lock);
    EXPECT_TRUE(Write("new b", "\\news\\b.txt"));
    EXPECT_FALSE(Write("new c", "\\news\\c.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("news/a.txt")) + Read(OnDevice("news/b.txt")), "new anew b");
    EXPECT_EQ(Read(OnDevice("news/c.txt/inside.txt")) + Read(OnDevice("news/.keep")),
              "the user'sthe user's");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/a.txt.001")), "locked");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/b.txt.001")), "read-only");
    EXPECT_EQ(Count("Zephyrate/Trash"), 3);
    EXPECT_EQ(Count("news"), 4) << "a leftover";
}

// A device with room for the new file but not for it beside the old copy: the old copy
// makes way and the file is written in place, as the device itself writes files. The
// small device is a tmpfs in a child's own mount namespace.
TEST_F(DeviceWriterTest, WithoutRoomForTwoCopiesTheFileIsWrittenInPlace) {
    const std::string contents(56 * 1024, 'n');
    const pid_t child = fork();
    if (child == 0) {
        // 96 KiB: the old copy of 56 KiB leaves 40 KiB, too little for a second copy.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", root_.c_str(), "tmpfs", 0, "size=96k") != 0) {
            _exit(10);
        }
        temp_.WriteFile("device/a.bin", std::string(56 * 1024, 'o'));
        // A device of its own: the fixture's one holds the folder under the mount.
        FolderDevice small(root_.string(), false);
        RAPIINIT init;
        small.CeRapiInitEx(init);
        small.WaitForRapiInit(init, 2000);
        Console console(surface_, session_, small, settings_);
        TransferContext context{small, console.Job(), console.Jobs(), console};
        MemoryFile source;
        source.Write(contents.data(), contents.size());
        const bool written = WriteToDevice(context, entry_, source, "\\a.bin", 0);
        _exit(written && Read(OnDevice("a.bin")) == contents ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 10) {
        GTEST_SKIP() << "no private mounts here";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

using DeviceFoldersTest = ConsoleFixture;

TEST_F(DeviceFoldersTest, EnsureFolderMakesWhatIsMissingAndFailsWhereAFileStands) {
    temp_.WriteFile("device/a/file.txt", "f");
    // Folders in any letter case count as there; a trailing separator names the folder
    // before it (a favorites path without a CE folder).
    for (const auto& [path, made, folder] :
         {std::tuple{"\\a\\b\\c", true, "a/b/c"},
          {"\\A\\B\\c", true, "a/b/c"},
          {"\\windows\\favorites\\", true, "windows/favorites"},
          {"\\a\\file.txt\\sub", false, "a/file.txt/sub"},
          {"\\new\\..\\b", false, "new"}}) {  // an error other than "not found" stops at once
        EXPECT_EQ(EnsureFolder(device_, path), made) << path;
        EXPECT_EQ(fs::is_directory(OnDevice(folder)), made) << path;
    }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(root_), {}), 6);
}

// Emptying the trash deletes its files, hidden ones and names that are not UTF-8 included,
// and leaves its sub-folders.
TEST_F(DeviceFoldersTest, EmptyingTheTrashLeavesItsSubFolders) {
    EXPECT_FALSE(EmptyTrash(device_, Job()));  // no trash folder; none is made
    EXPECT_FALSE(fs::exists(OnDevice("Zephyrate/Trash")));
    temp_.WriteFile("device/Zephyrate/Trash/a.txt.001", "a");
    temp_.WriteFile("device/Zephyrate/Trash/bad\xFF\xFE.001", "b");
    temp_.WriteFile("device/Zephyrate/Trash/.hidden.001", "h");
    temp_.WriteFile("device/Zephyrate/Trash/sub/kept.txt", "k");
    EXPECT_TRUE(EmptyTrash(device_, Job()));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(OnDevice("Zephyrate/Trash")), {}), 2);
}

TEST_F(DeviceFoldersTest, TheDataPathIsAValueOfAtMost255Bytes) {
    const std::string fits(126, 'd');  // with the zero fill 254 bytes; one more needs 256
    for (const auto& [value, found, path] :
         {std::tuple{std::string(), false, std::string()},
          {"\\\\Storage Card\\\\\xC3\xA9t\xC3\xA9", true, "\\Storage Card\\\xC3\xA9t\xC3\xA9"},
          {fits, true, fits},
          {fits + "d", false, std::string()}}) {
        if (!value.empty()) {
            temp_.WriteFile("device/.registry.reg",
                            "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\r\n\"DataPath\"=\"" +
                                value + "\"\r\n");
        }
        Job().DataPath = "stale";
        EXPECT_EQ(ReadDataPath(device_, Job()), found) << value;
        EXPECT_EQ(Job().DataPath, path);
    }
}

}  // namespace
}  // namespace zephyrate::test
