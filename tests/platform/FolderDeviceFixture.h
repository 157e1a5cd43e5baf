// Shared set-up of the FolderDevice tests: a fresh temporary folder holding the device
// folder "device" and a folder "outside" that no device path may reach, a connected
// device, and helpers that run device operations on UTF-8 paths.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/WideText.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {

// An exclusive flock on a file through an open file of its own, as another program holds
// it (flock locks belong to the open file, so the device's own opens conflict with it).
class OtherProcessLock {
  public:
    explicit OtherProcessLock(const std::filesystem::path& file)
        : fd_(open(file.c_str(), O_RDONLY | O_CLOEXEC)),
          locked_(fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0) {}
    ~OtherProcessLock() { close(fd_); }
    OtherProcessLock(const OtherProcessLock&) = delete;
    OtherProcessLock& operator=(const OtherProcessLock&) = delete;
    bool Locked() const { return locked_; }

  private:
    int fd_;
    bool locked_;
};

inline bool Connect(DeviceRemote& device, std::uint32_t timeoutMs = 2000) {
    RAPIINIT init;
    return device.CeRapiInitEx(init) >= 0 &&
           device.WaitForRapiInit(init, timeoutMs) == WAIT_OBJECT_0 && init.hrRapiInit >= 0;
}

// The device operations that take paths, for tables of cases.
enum class Op { Attributes, Create, Open, Delete, Mkdir, MoveFrom, MoveTo, Shortcut, List };

class FolderDeviceFixture : public ::testing::Test {
  protected:
    FolderDeviceFixture()
        : device_((temp_ / "device").string(), false),
          root_(temp_ / "device"),
          outside_(temp_ / "outside") {
        std::filesystem::create_directories(root_);
        temp_.WriteFile("outside/secret.txt", "secret");
    }

    void SetUp() override { ASSERT_TRUE(Connect(device_)); }

    static std::u16string W(std::string_view utf8) { return Utf8ToUtf16(utf8); }

    std::uint32_t Attributes(std::string_view path) {
        return device_.CeGetFileAttributes(W(path).c_str());
    }

    // Runs op on path (other: the second path of a move); true when the device did it.
    bool Run(Op op, const std::string& path, const std::string& other) {
        const std::u16string p = W(path);
        const auto opened = [&](DeviceHandle file) {
            return file != INVALID_HANDLE_VALUE && device_.CeCloseHandle(file);
        };
        bool listed = false;
        switch (op) {
            case Op::Attributes:
                return Attributes(path) != INVALID_FILE_ATTRIBUTES;
            case Op::Create:
                return opened(device_.CeCreateFile(p.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, 0));
            case Op::Open:
                return opened(device_.CeCreateFile(p.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0));
            case Op::Delete:
                return device_.CeDeleteFile(p.c_str());
            case Op::Mkdir:
                return device_.CeCreateDirectory(p.c_str());
            case Op::MoveFrom:
                return device_.CeMoveFile(p.c_str(), W(other).c_str());
            case Op::MoveTo:
                return device_.CeMoveFile(W(other).c_str(), p.c_str());
            case Op::Shortcut:
                return device_.CeSHCreateShortcut(p.c_str(), u"\"\\x\"") != 0;
            case Op::List:
                List(path + "\\*.*", FAF_NAME, &listed);
        }
        return listed;
    }

    // Runs an operation that must fail and returns the device's error for it.
    template <typename Operation>
    std::uint32_t ErrorOf(Operation operation, std::string_view what = "") {
        EXPECT_FALSE(operation()) << "should have failed: " << what;
        return device_.CeGetLastError();
    }
    std::uint32_t ErrorOf(Op op, const std::string& path, const std::string& other) {
        return ErrorOf([&] { return Run(op, path, other); }, path);
    }

    struct Found {
        std::string name;  // UTF-8, escapes turned back into their bytes
        CE_FIND_DATA record;
    };

    // Lists a pattern; the vector is empty and ok false when the listing fails.
    std::vector<Found> List(std::string_view pattern, std::uint32_t flags, bool* ok = nullptr) {
        std::uint32_t count = 0;
        CE_FIND_DATA* found = nullptr;
        const bool listed = device_.CeFindAllFiles(W(pattern).c_str(), flags, &count, &found);
        if (ok != nullptr) {
            *ok = listed;
        }
        std::vector<Found> result;
        for (std::uint32_t i = 0; listed && i < count; ++i) {
            result.push_back({Utf16ToUtf8(found[i].cFileName), found[i]});
        }
        if (listed) {
            EXPECT_EQ(device_.CeRapiFreeBuffer(found), S_OK);
        }
        return result;
    }

    std::vector<std::string> Names(std::string_view pattern, std::uint32_t flags = FAF_NAME) {
        std::vector<std::string> names;
        for (Found& found : List(pattern, flags)) {
            names.push_back(std::move(found.name));
        }
        return names;
    }

    // Creates or replaces a device file with contents; false when the device refuses.
    bool WriteDeviceFile(std::string_view path, std::string_view contents) {
        const DeviceHandle file = device_.CeCreateFile(W(path).c_str(), GENERIC_WRITE, 0,
                                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        std::uint32_t written = 0;
        const auto size = static_cast<std::uint32_t>(contents.size());
        const bool ok = device_.CeWriteFile(file, contents.data(), size, &written);
        return device_.CeCloseHandle(file) && ok && written == size;
    }

    TempFolder temp_;
    FolderDevice device_;
    const std::filesystem::path root_;
    const std::filesystem::path outside_;
};

}  // namespace zephyrate::test
