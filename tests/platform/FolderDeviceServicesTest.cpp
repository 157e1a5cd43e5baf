#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceServicesTest : public FolderDeviceFixture {
  protected:
    bool Move(std::string_view from, std::string_view to) {
        return device_.CeMoveFile(W(from).c_str(), W(to).c_str());
    }
    std::uint32_t MoveError(std::string_view from, std::string_view to) {
        return ErrorOf([&] { return Move(from, to); }, from);
    }
    std::uint32_t DeleteError(std::string_view path) {
        return ErrorOf([&] { return device_.CeDeleteFile(W(path).c_str()); }, path);
    }
    std::uint32_t MkdirError(std::string_view path) {
        return ErrorOf([&] { return device_.CeCreateDirectory(W(path).c_str()); }, path);
    }

    std::int32_t OpenPlatformKey(HKEY& key) {
        return device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key);
    }
};

TEST_F(FolderDeviceServicesTest, MoveNeverReplacesButMayChangeTheCase) {
    temp_.WriteFile("device/news/a.txt", "a");
    temp_.WriteFile("device/news/b.txt", "b");
    fs::create_directory(root_ / "Trash");

    EXPECT_TRUE(Move("\\NEWS\\a.txt", "\\trash\\a.txt.001"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Trash/a.txt.001"), "a");
    EXPECT_EQ(MoveError("\\news\\b.txt", "\\Trash\\A.TXT.001"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Trash/a.txt.001"), "a");
    EXPECT_EQ(MoveError("\\news\\b.txt", "\\NoTrash\\b.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(MoveError("\\news\\gone.txt", "\\Trash\\gone.txt"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MoveError("\\news\\b.txt", "\\"), ERROR_ALREADY_EXISTS);
    // A change of case only is a rename of the same file.
    EXPECT_TRUE(Move("\\news\\b.txt", "\\news\\B.TXT"));
    EXPECT_EQ(Names("\\news\\*.*"), std::vector<std::string>{"B.TXT"});
}

TEST_F(FolderDeviceServicesTest, DeletesFilesOnlyAndCreatesFolders) {
    temp_.WriteFile("device/dir/file.txt", "f");
    temp_.WriteFile("device/dir/ro.txt", "r");
    MakeReadOnly(root_ / "dir/ro.txt");

    EXPECT_TRUE(device_.CeDeleteFile(u"\\DIR\\FILE.TXT"));
    EXPECT_FALSE(fs::exists(root_ / "dir/file.txt"));
    EXPECT_EQ(DeleteError("\\dir\\file.txt"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(DeleteError("\\nodir\\file.txt"), ERROR_PATH_NOT_FOUND);
    // Refused by the mode bits, also as root.
    EXPECT_EQ(DeleteError("\\dir\\ro.txt"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::exists(root_ / "dir/ro.txt"));
    EXPECT_EQ(DeleteError("\\dir"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteError("\\"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::is_directory(root_ / "dir"));

    EXPECT_TRUE(device_.CeCreateDirectory(u"\\dir\\New"));
    EXPECT_TRUE(fs::is_directory(root_ / "dir/New"));
    EXPECT_EQ(MkdirError("\\DIR\\new"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MkdirError("\\dir\\ro.txt"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MkdirError("\\"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MkdirError("\\a\\b"), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(root_ / "a"));
}

TEST_F(FolderDeviceServicesTest, ReadsTheDataPathFromTheDeviceRegistry) {
    const auto code = [](std::uint32_t error) { return static_cast<std::int32_t>(error); };
    HKEY key = 0;
    EXPECT_EQ(OpenPlatformKey(key), code(ERROR_FILE_NOT_FOUND));  // no file

    temp_.WriteFile("device/.registry.reg",
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Other]\r\n\"DataPath\"=\"\\\\wrong\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\System\\Platform]\r\n"
                    "\"DataPath\"=\"\\\\Storage Card\\\\\xC3\xA9t\xC3\xA9\"\r\n"
                    "\"Number\"=dword:0000abcd\r\n");
    ASSERT_EQ(OpenPlatformKey(key), ERROR_SUCCESS);

    std::uint8_t data[255];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const auto query = [&](const char16_t* name, std::uint32_t room) {
        size = room;
        return device_.CeRegQueryValueEx(key, name, &type, data, &size);
    };
    const std::u16string expected = u"\\Storage Card\\\u00e9t\u00e9";
    const auto needed = static_cast<std::uint32_t>((expected.size() + 1) * 2);
    ASSERT_EQ(query(u"DataPath", sizeof data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, needed);
    std::u16string text;
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    EXPECT_EQ(text, expected + u'\0');
    EXPECT_EQ(data[size], 0xEE);  // nothing written past the value
    EXPECT_EQ(query(u"datapath", needed - 1), code(ERROR_MORE_DATA));
    EXPECT_EQ(size, needed);

    ASSERT_EQ(query(u"Number", sizeof data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24), 0xABCD);
    EXPECT_EQ(query(u"Missing", sizeof data), code(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(device_.CeRegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(device_.CeRegCloseKey(key), code(ERROR_INVALID_HANDLE));
    EXPECT_EQ(query(u"DataPath", sizeof data), code(ERROR_INVALID_HANDLE));
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Missing", 0, 0, &key),
              code(ERROR_FILE_NOT_FOUND));
}

TEST_F(FolderDeviceServicesTest, WritesTheShortcutFormat) {
    fs::create_directories(root_ / "windows/Start Menu/Programs");
    const char16_t* target = u"\"\\Zephyrate\\news\\a.exe\"";
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\Windows\\start menu\\Programs\\Reader.lnk", target),
              1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/Start Menu/Programs/Reader.lnk"),
              "23#\"\\Zephyrate\\news\\a.exe\"");
    // The count is of UTF-16 units, the text is UTF-8.
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\windows\\\u00e9.lnk", u"\"\\\u00e9\U0001F600\""), 1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/\xC3\xA9.lnk"),
              "6#\"\\\xC3\xA9\xF0\x9F\x98\x80\"");

    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\windows\\Start Menu\\Programs\\Reader.lnk", u"x"), 0);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/Start Menu/Programs/Reader.lnk"),
              "23#\"\\Zephyrate\\news\\a.exe\"");
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\nowhere\\Reader.lnk", target), 0);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(root_ / "nowhere"));
}

}  // namespace
}  // namespace zephyrate::test
