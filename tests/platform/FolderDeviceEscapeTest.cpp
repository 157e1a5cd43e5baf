#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

// Every operation, given a path that tries to leave the device folder, must leave the
// outside folder exactly as it was.
class FolderDeviceEscapeTest : public FolderDeviceFixture {
  protected:
    void SetUp() override {
        FolderDeviceFixture::SetUp();
        fs::create_directory_symlink(outside_, root_ / "out");        // a folder outside
        fs::create_symlink(outside_ / "secret.txt", root_ / "leak");  // a file outside
        fs::create_symlink("../outside", root_ / "rel");              // relative, same place
        temp_.WriteFile("device/inside.txt", "inside");
        fs::create_directory(root_ / "folder");
    }

    void ExpectOutsideUntouched() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(outside_)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"secret.txt"});
        EXPECT_EQ(TempFolder::ReadFile(outside_ / "secret.txt"), "secret");
    }

    std::uint32_t CreateError(std::string_view path) {
        EXPECT_FALSE(WriteDeviceFile(path, "escaped")) << path;
        return device_.CeGetLastError();
    }
    std::uint32_t MoveError(std::string_view from, std::string_view to) {
        return ErrorOf([&] { return device_.CeMoveFile(W(from).c_str(), W(to).c_str()); });
    }
    std::uint32_t DeleteError(std::string_view path) {
        return ErrorOf([&] { return device_.CeDeleteFile(W(path).c_str()); });
    }
    std::uint32_t DirectoryError(std::string_view path) {
        return ErrorOf([&] { return device_.CeCreateDirectory(W(path).c_str()); });
    }
    std::uint32_t ShortcutError(std::string_view path) {
        EXPECT_EQ(device_.CeSHCreateShortcut(W(path).c_str(), u"\"\\x.exe\""), 0) << path;
        return device_.CeGetLastError();
    }
    std::uint32_t ListError(std::string_view pattern) {
        bool ok = true;
        EXPECT_TRUE(List(pattern, FAF_NAME, &ok).empty());
        EXPECT_FALSE(ok) << pattern;
        return device_.CeGetLastError();
    }
};

TEST_F(FolderDeviceEscapeTest, SymbolicLinksAreInvisibleAndRefused) {
    EXPECT_EQ(Names("\\*.*"), (std::vector<std::string>{"folder", "inside.txt"}));
    for (const char* link : {"\\out", "\\leak", "\\rel", "\\OUT"}) {
        EXPECT_EQ(Attributes(link), INVALID_FILE_ATTRIBUTES) << link;
        EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED) << link;
    }
    EXPECT_EQ(Attributes("\\out\\secret.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(CreateError("\\out\\new.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\out\\secret.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\leak"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\rel\\secret.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(device_.CeCreateFile(u"\\leak", GENERIC_READ, 0, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(DeleteError("\\leak"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteError("\\out\\secret.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteError("\\out"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MoveError("\\out\\secret.txt", "\\stolen.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MoveError("\\leak", "\\stolen.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MoveError("\\inside.txt", "\\out\\inside.txt"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MoveError("\\inside.txt", "\\leak"), ERROR_ALREADY_EXISTS);  // never replaced
    EXPECT_EQ(DirectoryError("\\out\\d"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DirectoryError("\\out"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ShortcutError("\\out\\s.lnk"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ShortcutError("\\leak"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ListError("\\out\\*.*"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ListError("\\rel\\*.*"), ERROR_ACCESS_DENIED);

    ExpectOutsideUntouched();
    EXPECT_TRUE(fs::is_symlink(root_ / "leak"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "inside.txt"), "inside");
}

TEST_F(FolderDeviceEscapeTest, DotDotIsRefusedEverywhere) {
    EXPECT_EQ(CreateError("\\..\\outside\\new.txt"), ERROR_INVALID_NAME);
    EXPECT_EQ(CreateError("folder/../../outside/secret.txt"), ERROR_INVALID_NAME);
    EXPECT_EQ(Attributes("\\..\\outside\\secret.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(DeleteError("\\..\\outside\\secret.txt"), ERROR_INVALID_NAME);
    EXPECT_EQ(MoveError("\\..\\outside\\secret.txt", "\\stolen.txt"), ERROR_INVALID_NAME);
    EXPECT_EQ(MoveError("\\inside.txt", "\\..\\outside\\inside.txt"), ERROR_INVALID_NAME);
    EXPECT_EQ(DirectoryError("\\..\\outside\\d"), ERROR_INVALID_NAME);
    EXPECT_EQ(ShortcutError("\\..\\outside\\s.lnk"), ERROR_INVALID_NAME);
    EXPECT_EQ(ListError("\\..\\outside\\*.*"), ERROR_INVALID_NAME);
    EXPECT_EQ(ListError("\\..\\*.*"), ERROR_INVALID_NAME);
    EXPECT_EQ(ListError("\\folder\\.."), ERROR_INVALID_NAME);
    ExpectOutsideUntouched();
    EXPECT_EQ(TempFolder::ReadFile(root_ / "inside.txt"), "inside");
}

TEST_F(FolderDeviceEscapeTest, AbsoluteHostPathsStayInsideTheDeviceFolder) {
    const std::string secret = (outside_ / "secret.txt").string();  // "/tmp/.../secret.txt"
    const std::string folder = outside_.string();
    EXPECT_EQ(Attributes(secret), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateError(secret), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(DeleteError(secret), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(MoveError(secret, "\\stolen.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(MoveError("\\inside.txt", folder + "/inside.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(DirectoryError(folder + "/d"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ShortcutError(folder + "/s.lnk"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ListError(folder + "/*.*"), ERROR_PATH_NOT_FOUND);
    ExpectOutsideUntouched();

    // The same path with its folders made on the device means a file on the device.
    EXPECT_TRUE(device_.CeCreateDirectory(u"/etc"));
    EXPECT_TRUE(WriteDeviceFile("/etc/passwd", "device's own"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "etc/passwd"), "device's own");
    EXPECT_NE(TempFolder::ReadFile("/etc/passwd"), "device's own");
}

TEST_F(FolderDeviceEscapeTest, RegistryFileThatIsALinkIsNotRead) {
    temp_.WriteFile("outside/registry.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\n\"DataPath\"=\"\\\\leaked\"\n");
    fs::create_symlink(outside_ / "registry.reg", root_ / ".registry.reg");
    HKEY key = 0;
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace zephyrate::test
