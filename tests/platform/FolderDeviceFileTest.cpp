#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/DeviceErrors.h"
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
    const std::string chunk(4096, 'x');
    std::uint32_t written = 0;
    ASSERT_TRUE(device_.CeWriteFile(file, chunk.data(), 4096, &written));
    EXPECT_EQ(written, 4096u);
    ASSERT_TRUE(device_.CeWriteFile(file, "y", 1, &written));
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
    EXPECT_TRUE(device_.CeGetFileTime(file, nullptr, &lastAccess, &lastWrite));
    EXPECT_EQ(lastWrite, stamp);
    EXPECT_EQ(lastAccess, stamp);
    EXPECT_TRUE(device_.CeCloseHandle(file));

    struct stat status {};
    ASSERT_EQ(stat((root_ / "news.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1614834367);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "news.txt"), chunk + "y");

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
    EXPECT_TRUE(device_.CeCloseHandle(again));
}

TEST_F(FolderDeviceFileTest, RefusesWhatTheDeviceRefuses) {
    temp_.WriteFile("device/locked.txt", "keep");
    temp_.WriteFile("device/readonly.txt", "keep");
    MakeReadOnly(root_ / "readonly.txt");
    fs::create_directory(root_ / "folder");

    EXPECT_EQ(CreateError("\\Folder"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\no\\file.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateError("\\locked.txt\\file.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([&] { return Open("\\missing.txt") != INVALID_HANDLE_VALUE; }),
              ERROR_FILE_NOT_FOUND);

    // The device cannot replace or delete a read-only file or one another program locked,
    // but it can move them aside and write anew.
    OtherProcessLock lock(root_ / "locked.txt");
    ASSERT_TRUE(lock.Locked());
    EXPECT_EQ(CreateError("\\LOCKED.txt"), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ErrorOf([&] { return device_.CeDeleteFile(u"\\locked.txt"); }),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ErrorOf([&] { return Open("\\locked.txt") != INVALID_HANDLE_VALUE; }),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(CreateError("\\readonly.txt"), ERROR_ACCESS_DENIED);
    for (const char* name : {"locked.txt", "readonly.txt"}) {
        EXPECT_EQ(TempFolder::ReadFile(root_ / name), "keep");  // not truncated
        const std::string path = std::string("\\") + name;
        EXPECT_TRUE(device_.CeMoveFile(W(path).c_str(), W(path + ".old").c_str())) << name;
        EXPECT_TRUE(WriteDeviceFile(path, "new")) << name;
        EXPECT_EQ(TempFolder::ReadFile(root_ / (std::string(name) + ".old")), "keep");
    }

    // Share mode 0 also holds against a second open through the device itself.
    const DeviceHandle first = Open("\\locked.txt");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateError("\\locked.txt"), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(device_.CeCloseHandle(first));
}

TEST_F(FolderDeviceFileTest, HandlesAreValidated) {
    const DeviceHandle file = Open("\\a.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device_.CeCloseHandle(file));
    for (DeviceHandle bad : {file, INVALID_HANDLE_VALUE, DeviceHandle{0}, DeviceHandle{123456}}) {
        std::uint32_t written = 0;
        FILETIME time;
        EXPECT_EQ(ErrorOf([&] { return device_.CeGetFileSize(bad, &written) != 0xFFFFFFFFu; }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeWriteFile(bad, "x", 1, &written); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeGetFileTime(bad, &time, &time, &time); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeSetFileTime(bad, &time, &time, &time); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeCloseHandle(bad); }), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(ErrorOf([&] {
                  return Open("\\a.txt", GENERIC_READ, CREATE_ALWAYS) != INVALID_HANDLE_VALUE;
              }),
              ERROR_INVALID_PARAMETER);
}

// A child process with its own mount namespace mounts a 64 KiB tmpfs on device/card and
// fills it through the device; its exit status tells what it saw.
TEST_F(FolderDeviceFileTest, FullDiskFailsTheWriteWith112) {
    fs::create_directory(root_ / "card");
    const pid_t child = fork();
    if (child == 0) {
        if ((unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", (root_ / "card").c_str(), "tmpfs", 0, "size=64k") != 0) {
            _exit(10);
        }
        FolderDevice device(root_.string(), false);
        const DeviceHandle file = Connect(device)
                                      ? device.CeCreateFile(u"\\card\\big.bin", GENERIC_WRITE, 0,
                                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL)
                                      : INVALID_HANDLE_VALUE;
        const std::string chunk(4096, 'z');
        std::uint32_t written = 0;
        std::uint32_t error = 0;
        for (int i = 0; i < 1000 && file != INVALID_HANDLE_VALUE && error == 0; ++i) {
            if (!device.CeWriteFile(file, chunk.data(), 4096, &written)) {
                error = device.CeGetLastError();
            }
        }
        // The card is a mount of its own: the device shows it as a storage card.
        const bool card = device.CeGetFileAttributes(u"\\card") ==
                          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
        _exit((error == ERROR_DISK_FULL ? 0 : 1) | (card ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) {
        // No small file system can be mounted here: check the mapping alone.
        EXPECT_EQ(DeviceErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
        GTEST_SKIP() << "cannot mount a tmpfs here; only the errno mapping was checked";
    }
    EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "the write did not fail with ERROR_DISK_FULL";
    EXPECT_EQ(WEXITSTATUS(status) & 2, 0) << "the mount was not shown as a storage card";
}

}  // namespace
}  // namespace zephyrate::test
