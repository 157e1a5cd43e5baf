#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceListingTest : public FolderDeviceFixture {};

constexpr std::uint32_t kBrowserFlags =
    FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY | FAF_NO_HIDDEN_SYS_ROMMODULES;

TEST_F(FolderDeviceListingTest, ListsSortedByBytesWithDotNamesUnlessAskedNot) {
    temp_.WriteFile("device/b.txt", "bb");
    temp_.WriteFile("device/B.txt", "B");
    temp_.WriteFile("device/a", "");
    temp_.WriteFile("device/\xC3\xA9.txt", "");  // sorts after every ASCII name
    temp_.WriteFile("device/.hidden", "");
    temp_.WriteFile("device/.registry.reg", "");
    fs::create_directories(root_ / "Zeta/inner");
    fs::create_directory(root_ / ".trash");
    // Hidden names too, unless the caller leaves them out, as the device lists them.
    EXPECT_EQ(Names("\\*.*"),
              (std::vector<std::string>{".hidden", ".registry.reg", ".trash", "B.txt", "Zeta", "a",
                                        "b.txt", "\xC3\xA9.txt"}));
    EXPECT_EQ(Names("\\*.*", FAF_NAME | FAF_NO_HIDDEN_SYS_ROMMODULES),
              (std::vector<std::string>{"B.txt", "Zeta", "a", "b.txt", "\xC3\xA9.txt"}));
    EXPECT_EQ(Names("*"), Names("\\*.*"));
    EXPECT_EQ(Names("\\*.*", kBrowserFlags), (std::vector<std::string>{"Zeta"}));
    EXPECT_EQ(Names("\\zeta\\*.*", kBrowserFlags), (std::vector<std::string>{"inner"}));
    EXPECT_TRUE(Names("\\Zeta\\inner\\*.*").empty());
    // Other wildcards match without regard to case.
    EXPECT_EQ(Names("\\*.TXT"), (std::vector<std::string>{"B.txt", "b.txt", "\xC3\xA9.txt"}));
    // "?" stands for one character, also one of two bytes.
    EXPECT_EQ(Names("\\?.txt"), (std::vector<std::string>{"B.txt", "b.txt", "\xC3\xA9.txt"}));
    EXPECT_EQ(Names("\\??.txt"), std::vector<std::string>{});

    // Hidden entries are still there for whoever names them.
    EXPECT_EQ(Attributes("\\.hidden"),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(Attributes("\\.trash"),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(FolderDeviceListingTest, FillsOnlyWhatTheFlagsAskFor) {
    temp_.WriteFile("device/file.bin", std::string(5000, 'f'));
    MakeReadOnly(root_ / "file.bin");
    fs::create_directory(root_ / "dir");
    const timespec times[2] = {{1000000000, 0}, {1600000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "file.bin").c_str(), times, 0), 0);

    std::vector<Found> bare = List("\\*.*", FAF_NAME);
    ASSERT_EQ(bare.size(), 2u);
    EXPECT_EQ(bare[1].name, "file.bin");
    EXPECT_EQ(bare[1].attributes, 0u);
    EXPECT_EQ(bare[1].record.nFileSizeLow, 0u);

    std::vector<Found> full =
        List("\\*.*", FAF_NAME | FAF_ATTRIBUTES | FAF_SIZE_LOW | FAF_SIZE_HIGH |
                          FAF_LASTWRITE_TIME | FAF_LASTACCESS_TIME);
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(full[0].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(full[1].attributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(full[1].record.nFileSizeLow, 5000u);
    EXPECT_EQ(full[1].record.nFileSizeHigh, 0u);
    const auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    EXPECT_EQ(ticks(full[1].record.ftLastWriteTime), (1600000000 + 11644473600ULL) * 10000000 + 5);
    EXPECT_EQ(ticks(full[1].record.ftLastAccessTime), (1000000000 + 11644473600ULL) * 10000000);

    std::vector<Found> attributesOnly = List("\\*.*", FAF_ATTRIBUTES);
    ASSERT_EQ(attributesOnly.size(), 2u);
    EXPECT_EQ(attributesOnly[0].name, "");
    EXPECT_EQ(attributesOnly[0].attributes, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FolderDeviceListingTest, MarksStorageCardsAtTheTopOnly) {
    temp_.WriteFile("device/SD Card/.storage-card", "");
    temp_.WriteFile("device/Storage Card/.storage-card", "");
    temp_.WriteFile("device/Plain/inner/.storage-card", "");  // not at the top: a folder
    temp_.WriteFile("device/Fake/.storage-card/x", "");       // the marker must be a file
    temp_.WriteFile("device/file.storage-card", "");
    fs::create_directory_symlink(root_ / "SD Card", root_ / "Linked Card");

    const std::uint32_t folder = FILE_ATTRIBUTE_DIRECTORY;
    const std::uint32_t card = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
    std::vector<std::pair<std::string, std::uint32_t>> top;
    for (const Found& found : List("\\*.*", kBrowserFlags)) {
        top.emplace_back(found.name, found.attributes);
    }
    EXPECT_EQ(top,
              (decltype(top){
                  {"Fake", folder}, {"Plain", folder}, {"SD Card", card}, {"Storage Card", card}}));
    EXPECT_EQ(Attributes("\\storage card"), card);
    EXPECT_EQ(Attributes("\\Plain\\inner"), folder);
}

TEST_F(FolderDeviceListingTest, FailuresAndBuffers) {
    temp_.WriteFile("device/file.txt", "");
    EXPECT_EQ(ListError("\\missing\\*.*"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ListError("\\file.txt\\*.*"), ERROR_PATH_NOT_FOUND);
    ListError("\\");

    // The longest name the folder can hold fits the record whole.
    fs::create_directory(root_ / std::string(255, 'x'));
    std::vector<Found> found = List("\\*.*", FAF_NAME);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "file.txt");
    EXPECT_EQ(found[1].name, std::string(255, 'x'));

    // Arrays stay valid until freed, each once; an empty listing is an array too.
    std::uint32_t count = 9;
    CE_FIND_DATA* first = nullptr;
    CE_FIND_DATA* second = nullptr;
    ASSERT_TRUE(device_.CeFindAllFiles(u"\\*.*", FAF_NAME, &count, &first));
    ASSERT_TRUE(device_.CeFindAllFiles(u"\\*.none", FAF_NAME, &count, &second));
    EXPECT_EQ(count, 0u);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::u16string(first[0].cFileName), u"file.txt");
    EXPECT_EQ(device_.CeRapiFreeBuffer(first), S_OK);
    EXPECT_LT(device_.CeRapiFreeBuffer(first), 0);
    EXPECT_EQ(device_.CeRapiFreeBuffer(second), S_OK);
    EXPECT_FALSE(device_.CeFindAllFiles(u"\\*.*", FAF_NAME, nullptr, &first));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace zephyrate::test
