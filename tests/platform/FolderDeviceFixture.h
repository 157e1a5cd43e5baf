// Shared set-up of the device folder tests: a temporary folder holding the device folder
// "device" and a folder "outside" that no device path may reach, a connected device, and
// device operations on UTF-8 paths.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/WideText.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {

inline bool Connect(DeviceRemote& device, std::uint32_t timeoutMs = 2000) {
    RAPIINIT init;
    return device.CeRapiInitEx(init) >= 0 &&
           device.WaitForRapiInit(init, timeoutMs) == WAIT_OBJECT_0 && init.hrRapiInit >= 0;
}

// The device operations that take paths, for tables of cases.
enum class Op { Attributes, Write, Open, Delete, Mkdir, MoveFrom, MoveTo, Shortcut, List };

class FolderDeviceFixture : public ::testing::Test {
  protected:
    FolderDeviceFixture() : device_((temp_ / "device").string(), false), root_(temp_ / "device") {
        std::filesystem::create_directories(root_);
        temp_.WriteFile("outside/secret.txt", "secret");
    }

    void SetUp() override { ASSERT_TRUE(Connect(device_)); }

    static std::u16string W(std::string_view utf8) { return Utf8ToUtf16(utf8); }

    std::uint32_t Result(bool done) { return done ? ERROR_SUCCESS : device_.CeGetLastError(); }

    // Runs op on path: ERROR_SUCCESS when the device did it, else the device's error. Write
    // puts the path itself into the file; a move goes from path to other (MoveFrom) or
    // from other to path (MoveTo).
    std::uint32_t Do(Op op, const std::string& path, const std::string& other = "") {
        const std::u16string p = W(path);
        const bool write = op == Op::Write;
        std::uint32_t n = 0;
        switch (op) {
            case Op::Attributes:
                return Result(device_.CeGetFileAttributes(p.c_str()) != INVALID_FILE_ATTRIBUTES);
            case Op::Write:
            case Op::Open: {
                const DeviceHandle file =
                    device_.CeCreateFile(p.c_str(), write ? GENERIC_WRITE : GENERIC_READ, 0,
                                         write ? CREATE_ALWAYS : OPEN_EXISTING, 0);
                const auto size = static_cast<std::uint32_t>(path.size());
                return Result(file != INVALID_HANDLE_VALUE &&
                              (!write || device_.CeWriteFile(file, path.data(), size, &n)) &&
                              device_.CeCloseHandle(file));
            }
            case Op::Delete:
                return Result(device_.CeDeleteFile(p.c_str()));
            case Op::Mkdir:
                return Result(device_.CeCreateDirectory(p.c_str()));
            case Op::MoveFrom:
                return Result(device_.CeMoveFile(p.c_str(), W(other).c_str()));
            case Op::MoveTo:
                return Result(device_.CeMoveFile(W(other).c_str(), p.c_str()));
            case Op::Shortcut:
                return Result(device_.CeSHCreateShortcut(p.c_str(), u"\"\\x\"") != 0);
            case Op::List:
                List(path + "\\*.*", FAF_NAME, &n);
        }
        return n;
    }

    // Lists a pattern; empty, with the device's error in *error, when the listing fails.
    std::vector<CE_FIND_DATA> List(std::string_view pattern, std::uint32_t flags,
                                   std::uint32_t* error = nullptr) {
        std::uint32_t count = 0;
        CE_FIND_DATA* found = nullptr;
        const bool listed = device_.CeFindAllFiles(W(pattern).c_str(), flags, &count, &found);
        if (error != nullptr) {
            *error = listed ? ERROR_SUCCESS : device_.CeGetLastError();
        }
        std::vector<CE_FIND_DATA> result(found, found + (listed ? count : 0));
        EXPECT_EQ(device_.CeRapiFreeBuffer(found), S_OK);
        return result;
    }

    // The names listed, escapes turned back into their bytes.
    std::vector<std::string> Names(std::string_view pattern, std::uint32_t flags = FAF_NAME) {
        std::vector<std::string> names;
        for (const CE_FIND_DATA& found : List(pattern, flags)) {
            names.push_back(Utf16ToUtf8(found.cFileName));
        }
        return names;
    }

    TempFolder temp_;
    FolderDevice device_;
    const std::filesystem::path root_;
};

}  // namespace zephyrate::test
