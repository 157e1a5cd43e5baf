#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceNamesTest : public FolderDeviceFixture {};

TEST_F(FolderDeviceNamesTest, ResolvesExistingNamesIgnoringCaseAndKeepsTheCaseOfNewOnes) {
    temp_.WriteFile("device/My Documents/Report.TXT", "r");
    temp_.WriteFile("device/\xC3\x89t\xC3\xA9/caf\xC3\xA9.txt", "u");  // "Été/café.txt"

    EXPECT_EQ(Attributes("\\my documents\\REPORT.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Attributes("/MY DOCUMENTS/report.txt"), FILE_ATTRIBUTE_ARCHIVE);
    // Beyond ASCII: "ÉTÉ/CAFÉ.TXT".
    EXPECT_EQ(Attributes("\\\xC3\x89T\xC3\x89\\CAF\xC3\x89.TXT"), FILE_ATTRIBUTE_ARCHIVE);

    EXPECT_TRUE(WriteDeviceFile("\\MY DOCUMENTS\\New File.Txt", "n"));
    EXPECT_TRUE(device_.CeCreateDirectory(u"\\my documents\\Sub Folder"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "My Documents/New File.Txt"), "n");
    EXPECT_TRUE(fs::is_directory(root_ / "My Documents/Sub Folder"));
    // Replacing a file under another case writes the existing file, not a second one.
    EXPECT_TRUE(WriteDeviceFile("\\my documents\\report.txt", "replaced"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "My Documents/Report.TXT"), "replaced");
    EXPECT_FALSE(fs::exists(root_ / "My Documents/report.txt"));

    // The exact name wins over a name equal ignoring case.
    temp_.WriteFile("device/My Documents/report.txt", "exact");
    const DeviceHandle file =
        device_.CeCreateFile(u"\\My Documents\\report.txt", GENERIC_READ, 0, OPEN_EXISTING, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device_.CeGetFileSize(file, nullptr), 5u);
    EXPECT_TRUE(device_.CeCloseHandle(file));
}

TEST_F(FolderDeviceNamesTest, SplitsAtBothSeparatorsSkipsEmptyPartsAndRefusesDotParts) {
    temp_.WriteFile("device/a/b/c.txt", "c");
    EXPECT_EQ(Attributes("a/b\\c.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Attributes("\\A\\b\\C.TXT"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Attributes("\\a\\B\\c.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Attributes("\\\\a//\\b\\\\c.txt\\"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(AttributesError("\\a\\.\\b\\c.txt"), ERROR_INVALID_NAME);
    // Names that merely contain dots are ordinary names.
    EXPECT_TRUE(device_.CeCreateDirectory(u"\\a\\..."));
    EXPECT_TRUE(fs::is_directory(root_ / "a/..."));

    EXPECT_EQ(AttributesError("\\a\\missing.txt"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(AttributesError("\\a\\missing\\c.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(AttributesError("\\a\\b\\c.txt\\d"), ERROR_PATH_NOT_FOUND);  // a file as a folder
    EXPECT_EQ(device_.CeGetFileAttributes(nullptr), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FolderDeviceNamesTest, OverlongNamesAndPathsGiveErrorsNotCrashes) {
    // 150 two-byte characters: 150 device characters but 300 bytes on disk.
    std::string wideName = "\\";
    while (wideName.size() < 300) {
        wideName += "\xC3\xA9";
    }
    std::string deep;
    while (deep.size() < 5000) {
        deep += "\\d";  // 5000 characters of one-letter folders
    }
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"\\" + std::string(300, 'n'), ERROR_FILENAME_EXCED_RANGE},
        {wideName, ERROR_FILENAME_EXCED_RANGE},
        {"\\" + std::string(40000, 'h'), ERROR_FILENAME_EXCED_RANGE},
        {deep, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& [path, error] : cases) {
        const std::u16string wide = W(path);
        EXPECT_EQ(AttributesError(path), error);
        EXPECT_EQ(CreateError(path), error);
        EXPECT_EQ(ErrorOf([&] { return device_.CeCreateDirectory(wide.c_str()); }), error);
        EXPECT_EQ(ErrorOf([&] { return device_.CeSHCreateShortcut(wide.c_str(), u"x") != 0; }),
                  error);
    }
    EXPECT_EQ(ListError(deep + "\\*.*"), ERROR_PATH_NOT_FOUND);
}

TEST_F(FolderDeviceNamesTest, NamesThatAreNotUtf8ArriveBackAtTheSameFile) {
    const std::string latin1 = "caf\xE9 \xFF\x80.txt";  // Latin-1 bytes, not UTF-8
    temp_.WriteFile("device/" + latin1, "bytes");
    fs::create_directory(root_ / "dir\xC0\xAF");  // an overlong "/": must stay a name

    std::vector<Found> found = List("\\*.*", FAF_NAME | FAF_ATTRIBUTES);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, latin1);
    EXPECT_EQ(found[1].name, "dir\xC0\xAF");
    EXPECT_EQ(found[1].attributes, FILE_ATTRIBUTE_DIRECTORY);

    // Hand the UTF-16 names back exactly as the device gave them.
    const std::u16string fileName = std::u16string(u"\\") + found[0].record.cFileName;
    const std::u16string dirName = std::u16string(u"\\") + found[1].record.cFileName;
    EXPECT_EQ(device_.CeGetFileAttributes(fileName.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    const DeviceHandle file =
        device_.CeCreateFile(fileName.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device_.CeGetFileSize(file, nullptr), 5u);
    EXPECT_TRUE(device_.CeCloseHandle(file));
    const std::u16string moved = dirName + u"\\" + found[0].record.cFileName;
    EXPECT_TRUE(device_.CeMoveFile(fileName.c_str(), moved.c_str()));
    EXPECT_EQ(TempFolder::ReadFile(root_ / ("dir\xC0\xAF/" + latin1)), "bytes");
    EXPECT_FALSE(fs::exists(root_ / latin1));
}

TEST_F(FolderDeviceNamesTest, SpecialFilesAreHiddenAndRefused) {
    ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0644), 0);
    EXPECT_TRUE(Names("\\*.*").empty());
    EXPECT_EQ(AttributesError("\\pipe"), ERROR_ACCESS_DENIED);
    // Opening it must neither block nor succeed.
    EXPECT_EQ(ErrorOf([&] {
                  return device_.CeCreateFile(u"\\pipe", GENERIC_READ, 0, OPEN_EXISTING, 0) !=
                         INVALID_HANDLE_VALUE;
              }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateError("\\pipe"), ERROR_ACCESS_DENIED);
}

}  // namespace
}  // namespace zephyrate::test
