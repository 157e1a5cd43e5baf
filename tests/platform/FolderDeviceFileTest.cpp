#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FolderDevice.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceFileTest : public FolderDeviceFixture {
  protected:
    DeviceHandle Open(std::string_view path, std::uint32_t access = GENERIC_READ,
                      std::uint32_t disposition = OPEN_EXISTING) {
        return device_.CeCreateFile(W(path).c_str(), access, 0, disposition, FILE_ATTRIBUTE_NORMAL);
    }
};

TEST_F(FolderDeviceFileTest, WritesReplacesAndStampsAFile) {
    ASSERT_TRUE(WriteDeviceFile("\\news.txt", "a longer first version"));
    const DeviceHandle file = Open("\\news.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "news.txt"), "");  // truncated once locked
    const std::string chunk(4097, 'x');
    std::uint32_t written = 0;
    ASSERT_TRUE(device_.CeWriteFile(file, chunk.data(), 4097, &written));
    EXPECT_EQ(written, 4097u);
    std::uint32_t high = 7;
    EXPECT_EQ(device_.CeGetFileSize(file, &high), 4097u);
    EXPECT_EQ(high, 0u);

    // 2021-03-04 05:06:07.1234567 UTC as a FILETIME; creation time is ignored.
    const std::uint64_t ticks = 132593079671234567;
    const FILETIME stamp{static_cast<std::uint32_t>(ticks),
                         static_cast<std::uint32_t>(ticks >> 32)};
    EXPECT_TRUE(device_.CeSetFileTime(file, &stamp, &stamp, &stamp));
    FILETIME lastWrite;
    FILETIME lastAccess;
    EXPECT_TRUE(device_.CeCloseHandle(file));
    struct stat status {};
    ASSERT_EQ(stat((root_ / "news.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1614834367);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "news.txt"), chunk);

    // A null time leaves that time as it is; a file opened for reading takes no writes.
    const DeviceHandle again = Open("\\NEWS.TXT");
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    const FILETIME later{0, 0x01D80000};
    EXPECT_TRUE(device_.CeSetFileTime(again, nullptr, &later, nullptr));
    EXPECT_TRUE(device_.CeGetFileTime(again, nullptr, &lastAccess, &lastWrite));
    EXPECT_EQ(lastWrite, stamp);
    EXPECT_EQ(lastAccess, later);
    EXPECT_EQ(ErrorOf([&] { return device_.CeWriteFile(again, "z", 1, &written); }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf(Op::Create, "\\news.txt", ""), ERROR_SHARING_VIOLATION);  // share mode 0
    EXPECT_TRUE(device_.CeCloseHandle(again));
    EXPECT_EQ(ErrorOf([&] {
                  return Open("\\a.txt", GENERIC_READ, CREATE_ALWAYS) != INVALID_HANDLE_VALUE;
              }),
              ERROR_INVALID_PARAMETER);
}

TEST_F(FolderDeviceFileTest, OperationsFailWithTheDevicesErrors) {
    temp_.WriteFile("device/dir/file.txt", "keep");
    temp_.WriteFile("device/dir/ro.txt", "keep");
    temp_.WriteFile("device/locked.txt", "keep");
    temp_.WriteFile("device/windows/a.lnk", "keep");
    chmod((root_ / "dir/ro.txt").c_str(), 0444);
    ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0644), 0);  // must neither block nor open
    OtherProcessLock lock(root_ / "locked.txt");
    ASSERT_TRUE(lock.Locked());
    std::string wide = "\\";  // 150 device characters but 300 bytes on disk
    while (wide.size() < 300) {
        wide += "\xC3\xA9";
    }
    std::string deep;  // 5000 characters of one-letter folders
    while (deep.size() < 5000) {
        deep += "\\d";
    }
    const std::string longName = "\\" + std::string(300, 'n');
    const std::string huge = "\\" + std::string(40000, 'h');
    // A move takes the path as its target and "\\dir\\file.txt" as its source.
    const struct {
        Op op;
        std::uint32_t error;
        std::vector<std::string> paths;
    } cases[] = {
        {Op::Attributes, ERROR_FILE_NOT_FOUND, {"\\dir\\missing.txt"}},
        // A file as a folder is a missing path.
        {Op::Attributes, ERROR_PATH_NOT_FOUND, {"\\dir\\missing\\c.txt", "\\dir\\file.txt\\d"}},
        {Op::Attributes, ERROR_INVALID_NAME, {"\\dir\\.\\file.txt"}},
        {Op::Attributes, ERROR_FILENAME_EXCED_RANGE, {longName}},
        {Op::Create, ERROR_FILENAME_EXCED_RANGE, {wide}},
        {Op::Mkdir, ERROR_FILENAME_EXCED_RANGE, {huge}},
        {Op::Shortcut, ERROR_PATH_NOT_FOUND, {deep, "\\nowhere\\a.lnk"}},
        {Op::List, ERROR_PATH_NOT_FOUND, {deep, "\\missing", "\\dir\\file.txt"}},
        {Op::Attributes, ERROR_ACCESS_DENIED, {"\\pipe"}},
        {Op::Create, ERROR_ACCESS_DENIED, {"\\Dir", "\\", "\\dir\\ro.txt", "\\pipe"}},
        {Op::Create, ERROR_PATH_NOT_FOUND, {"\\no\\file.txt"}},
        {Op::Create, ERROR_SHARING_VIOLATION, {"\\LOCKED.txt"}},
        {Op::Open, ERROR_FILE_NOT_FOUND, {"\\missing.txt"}},
        {Op::Open, ERROR_SHARING_VIOLATION, {"\\locked.txt"}},
        {Op::Open, ERROR_ACCESS_DENIED, {"\\pipe"}},
        {Op::Delete, ERROR_FILE_NOT_FOUND, {"\\dir\\missing.txt"}},
        {Op::Delete, ERROR_PATH_NOT_FOUND, {"\\nodir\\file.txt"}},
        // A read-only file by its mode bits, also as root.
        {Op::Delete, ERROR_ACCESS_DENIED, {"\\dir\\ro.txt", "\\dir", "\\"}},
        {Op::Delete, ERROR_SHARING_VIOLATION, {"\\locked.txt"}},
        {Op::Mkdir, ERROR_ALREADY_EXISTS, {"\\DIR", "\\dir\\ro.txt", "\\"}},
        {Op::Mkdir, ERROR_PATH_NOT_FOUND, {"\\a\\b"}},
        {Op::MoveTo, ERROR_ALREADY_EXISTS, {"\\DIR\\RO.TXT", "\\"}},  // a move never replaces
        {Op::MoveTo, ERROR_PATH_NOT_FOUND, {"\\notrash\\file.txt"}},
        {Op::MoveFrom, ERROR_FILE_NOT_FOUND, {"\\dir\\gone.txt"}},
        {Op::Shortcut, ERROR_ALREADY_EXISTS, {"\\Windows\\A.LNK"}},
    };
    for (const auto& c : cases) {
        for (const std::string& path : c.paths) {
            EXPECT_EQ(ErrorOf(c.op, path, "\\dir\\file.txt"), c.error)
                << static_cast<int>(c.op) << " " << path.substr(0, 40);
        }
    }
    for (const char* name : {"dir/file.txt", "dir/ro.txt", "locked.txt", "windows/a.lnk"}) {
        EXPECT_EQ(TempFolder::ReadFile(root_ / name), "keep") << name;
    }
    EXPECT_FALSE(fs::exists(root_ / "a"));

    // A change of case only is a rename of the same file, not a move onto an existing one.
    EXPECT_TRUE(Run(Op::MoveFrom, "\\dir\\file.txt", "\\dir\\FILE.TXT"));
    EXPECT_TRUE(Run(Op::Delete, "\\DIR\\file.txt", ""));
    EXPECT_EQ(Names("\\dir\\*.*"), std::vector<std::string>{"ro.txt"});
}

TEST_F(FolderDeviceFileTest, HandlesAreValidated) {
    const DeviceHandle file = Open("\\a.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device_.CeCloseHandle(file));
    std::uint32_t n = 0;
    FILETIME time;
    const auto refused = [&](bool done) {
        EXPECT_FALSE(done);
        EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_HANDLE);
    };
    for (DeviceHandle bad : {file, INVALID_HANDLE_VALUE, DeviceHandle{0}, DeviceHandle{123456}}) {
        refused(device_.CeGetFileSize(bad, &n) != 0xFFFFFFFFu);
        refused(device_.CeWriteFile(bad, "x", 1, &n));
        refused(device_.CeGetFileTime(bad, &time, &time, &time));
        refused(device_.CeSetFileTime(bad, &time, &time, &time));
        refused(device_.CeCloseHandle(bad));
    }
}

// A child process with its own mount namespace mounts a tmpfs on device/card; its exit
// status tells whether the device shows the mount as a storage card.
TEST_F(FolderDeviceFileTest, AMountIsAStorageCard) {
    fs::create_directory(root_ / "card");
    const pid_t child = fork();
    if (child == 0) {
        if ((unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", (root_ / "card").c_str(), "tmpfs", 0, "size=64k") != 0) {
            _exit(10);
        }
        FolderDevice device(root_.string(), false);
        _exit(Connect(device) && device.CeGetFileAttributes(u"\\card") ==
                                     (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY)
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the mount was not shown as a storage card";
}

}  // namespace
}  // namespace zephyrate::test
