#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceErrors.h"
#include "platform/FolderDevice.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceFileTest : public FolderDeviceFixture {
  protected:
    DeviceHandle Create(std::string_view path) {
        return device_.CeCreateFile(W(path).c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL);
    }
    DeviceHandle OpenForReading(std::string_view path) {
        return device_.CeCreateFile(W(path).c_str(), GENERIC_READ, 0, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL);
    }
    std::uint32_t CreateError(std::string_view path) {
        EXPECT_EQ(Create(path), INVALID_HANDLE_VALUE) << path;
        return device_.CeGetLastError();
    }
};

TEST_F(FolderDeviceFileTest, WritesReplacesAndStampsAFile) {
    ASSERT_TRUE(WriteDeviceFile("\\news.txt", "a longer first version"));
    const DeviceHandle file = Create("\\news.txt");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "news.txt"), "");  // truncated once locked
    std::uint32_t written = 99;
    EXPECT_TRUE(device_.CeWriteFile(file, "", 0, &written));
    EXPECT_EQ(written, 0u);
    const std::string chunk(4096, 'x');
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

    // A null time leaves that time as it is.
    const DeviceHandle again = OpenForReading("\\NEWS.TXT");
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    const FILETIME later{0, 0x01D80000};
    EXPECT_TRUE(device_.CeSetFileTime(again, nullptr, &later, nullptr));
    EXPECT_TRUE(device_.CeGetFileTime(again, nullptr, &lastAccess, &lastWrite));
    EXPECT_EQ(lastWrite, stamp);
    EXPECT_EQ(lastAccess, later);
    // A file opened for reading takes no writes.
    EXPECT_FALSE(device_.CeWriteFile(again, "z", 1, &written));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(device_.CeCloseHandle(again));
}

TEST_F(FolderDeviceFileTest, RefusesWhatTheDeviceRefuses) {
    temp_.WriteFile("device/locked.txt", "keep");
    temp_.WriteFile("device/readonly.txt", "keep");
    MakeReadOnly(root_ / "readonly.txt");
    fs::create_directory(root_ / "folder");

    EXPECT_EQ(CreateError("\\readonly.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "readonly.txt"), "keep");
    EXPECT_EQ(CreateError("\\Folder"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\no\\file.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateError("\\locked.txt\\file.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(OpenForReading("\\missing.txt"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_FILE_NOT_FOUND);

    {
        OtherProcessLock lock(root_ / "locked.txt");
        ASSERT_TRUE(lock.Locked());
        EXPECT_EQ(CreateError("\\LOCKED.txt"), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(OpenForReading("\\locked.txt"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(device_.CeGetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(TempFolder::ReadFile(root_ / "locked.txt"), "keep");  // not truncated
    }
    // Released by the other program: the file can be replaced now.
    EXPECT_TRUE(WriteDeviceFile("\\locked.txt", "new"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "locked.txt"), "new");

    // Share mode 0 also holds against a second open through the device itself.
    const DeviceHandle first = OpenForReading("\\locked.txt");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateError("\\locked.txt"), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(device_.CeCloseHandle(first));
}

TEST_F(FolderDeviceFileTest, HandlesAreValidated) {
    const DeviceHandle file = Create("\\a.txt");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device_.CeCloseHandle(file));
    for (DeviceHandle bad : {file, INVALID_HANDLE_VALUE, DeviceHandle{0}, DeviceHandle{123456}}) {
        std::uint32_t written = 0;
        std::uint32_t high = 0;
        FILETIME time;
        EXPECT_EQ(device_.CeGetFileSize(bad, &high), 0xFFFFFFFFu);
        EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeWriteFile(bad, "x", 1, &written); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeGetFileTime(bad, &time, &time, &time); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeSetFileTime(bad, &time, &time, &time); }),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf([&] { return device_.CeCloseHandle(bad); }), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(device_.CeCreateFile(u"\\a.txt", GENERIC_READ, 0, CREATE_ALWAYS, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_PARAMETER);
}

// Runs body in a child process with its own mount namespace and a 64 KiB tmpfs mounted
// on folder; returns what the child wrote to the pipe, or nothing when it could not mount.
std::optional<std::vector<std::uint32_t>> InSmallFileSystem(
    const fs::path& folder, const std::function<std::vector<std::uint32_t>()>& body) {
    int results[2];
    if (pipe(results) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(results[0]);
        const bool mounted =
            (unshare(CLONE_NEWNS) == 0 || unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (mounted) {
            const std::vector<std::uint32_t> values = body();
            (void)!write(results[1], values.data(), values.size() * sizeof(std::uint32_t));
        }
        _exit(mounted ? 0 : 1);
    }
    close(results[1]);
    std::vector<std::uint32_t> values;
    std::uint32_t value = 0;
    while (read(results[0], &value, sizeof value) == sizeof value) {
        values.push_back(value);
    }
    close(results[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return values;
}

TEST_F(FolderDeviceFileTest, FullDiskFailsTheWriteWith112) {
    fs::create_directory(root_ / "card");
    const auto results = InSmallFileSystem(root_ / "card", [this] {
        FolderDevice device(root_.string(), false);
        const std::u16string path = u"\\card\\big.bin";
        std::vector<std::uint32_t> values{0, 0};
        if (!Connect(device)) {
            return values;
        }
        const DeviceHandle file = device.CeCreateFile(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL);
        const std::string chunk(4096, 'z');
        std::uint32_t written = 0;
        for (int i = 0; i < 1000 && file != INVALID_HANDLE_VALUE; ++i) {
            if (!device.CeWriteFile(file, chunk.data(), 4096, &written)) {
                values[0] = device.CeGetLastError();
                break;
            }
        }
        // The card is a mount of its own: the device shows it as a storage card.
        values[1] = device.CeGetFileAttributes(u"\\card");
        return values;
    });
    if (!results) {
        // No small file system can be mounted here: check the mapping alone.
        EXPECT_EQ(DeviceErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
        GTEST_SKIP() << "cannot mount a tmpfs here; only the errno mapping was checked";
    }
    ASSERT_EQ(results->size(), 2u);
    EXPECT_EQ((*results)[0], ERROR_DISK_FULL);
    EXPECT_EQ((*results)[1], FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
}

}  // namespace
}  // namespace zephyrate::test
