// Shared set-up of the FolderDevice tests: a fresh temporary folder holding the device
// folder "device" and a folder "outside" that no device path may reach, a connected
// device, and helpers that read results back as UTF-8.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Another process that holds an exclusive flock on a file until this object goes away.
class OtherProcessLock {
  public:
    explicit OtherProcessLock(const std::filesystem::path& file) {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
            char state = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'L' : 'F';
            (void)!write(ready[1], &state, 1);
            (void)!read(release[0], &state, 1);  // returns when the parent closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        releaseFd_ = release[1];
        char state = 0;
        locked_ = child_ > 0 && read(ready[0], &state, 1) == 1 && state == 'L';
        close(ready[0]);
    }
    ~OtherProcessLock() {
        close(releaseFd_);
        if (child_ > 0) {
            waitpid(child_, nullptr, 0);
        }
    }
    OtherProcessLock(const OtherProcessLock&) = delete;
    OtherProcessLock& operator=(const OtherProcessLock&) = delete;

    bool Locked() const { return locked_; }

  private:
    pid_t child_ = -1;
    int releaseFd_ = -1;
    bool locked_ = false;
};

inline bool Connect(DeviceRemote& device, std::uint32_t timeoutMs = 2000) {
    RAPIINIT init;
    return device.CeRapiInitEx(init) >= 0 &&
           device.WaitForRapiInit(init, timeoutMs) == WAIT_OBJECT_0 && init.hrRapiInit >= 0;
}

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

    // Runs an operation that must fail and returns the device's error for it.
    template <typename Operation>
    std::uint32_t ErrorOf(Operation operation, std::string_view what = "") {
        EXPECT_FALSE(operation()) << "should have failed: " << what;
        return device_.CeGetLastError();
    }
    std::uint32_t AttributesError(std::string_view path) {
        return ErrorOf([&] { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }, path);
    }
    std::uint32_t CreateError(std::string_view path) {
        return ErrorOf([&] { return WriteDeviceFile(path, "x"); }, path);
    }
    std::uint32_t ListError(std::string_view pattern) {
        bool ok = true;
        EXPECT_TRUE(List(pattern, FAF_NAME, &ok).empty()) << pattern;
        return ErrorOf([&] { return ok; }, pattern);
    }

    struct Found {
        std::string name;  // UTF-8, escapes turned back into their bytes
        std::uint32_t attributes = 0;
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
            result.push_back(
                {Utf16ToUtf8(found[i].cFileName), found[i].dwFileAttributes, found[i]});
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

    static void MakeReadOnly(const std::filesystem::path& file) { chmod(file.c_str(), 0444); }

    TempFolder temp_;
    FolderDevice device_;
    const std::filesystem::path root_;
    const std::filesystem::path outside_;
};

}  // namespace zephyrate::test
