// How device paths find files: letter case, separators, names that are not UTF-8, and
// paths that try to leave the device folder.
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
    for (const char* path : {"\\my documents\\REPORT.txt", "my documents/report.txt",
                             "\\\\MY DOCUMENTS//\\report.txt\\",
                             "\\\xC3\x89T\xC3\x89\\CAF\xC3\x89.TXT"}) {  // "ÉTÉ/CAFÉ.TXT"
        EXPECT_EQ(Attributes(path), FILE_ATTRIBUTE_ARCHIVE) << path;
    }
    EXPECT_TRUE(WriteDeviceFile("\\MY DOCUMENTS\\New File.Txt", "n"));
    EXPECT_TRUE(device_.CeCreateDirectory(u"\\my documents\\..."));  // dots in a name
    EXPECT_EQ(TempFolder::ReadFile(root_ / "My Documents/New File.Txt"), "n");
    EXPECT_TRUE(fs::is_directory(root_ / "My Documents/..."));
    // Replacing a file under another case writes the existing file, not a second one.
    EXPECT_TRUE(WriteDeviceFile("\\my documents\\report.txt", "replaced"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "My Documents/Report.TXT"), "replaced");
    EXPECT_FALSE(fs::exists(root_ / "My Documents/report.txt"));
    // The exact name wins over a name equal ignoring case.
    temp_.WriteFile("device/My Documents/report.txt", "exact");
    EXPECT_TRUE(WriteDeviceFile("\\My Documents\\report.txt", "exact!"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "My Documents/Report.TXT"), "replaced");
}

TEST_F(FolderDeviceNamesTest, NamesThatAreNotUtf8ArriveBackAtTheSameFile) {
    const std::string latin1 = "caf\xE9 \xFF\x80.txt";  // Latin-1 bytes, not UTF-8
    temp_.WriteFile("device/" + latin1, "bytes");
    fs::create_directory(root_ / "dir\xC0\xAF");  // an overlong "/": must stay a name
    std::vector<Found> found = List("\\*.*", FAF_NAME | FAF_ATTRIBUTES);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, latin1);
    EXPECT_EQ(found[1].name, "dir\xC0\xAF");
    // Hand the UTF-16 names back exactly as the device gave them.
    const std::u16string file = std::u16string(u"\\") + found[0].record.cFileName;
    const std::u16string moved = u"\\" + std::u16string(found[1].record.cFileName) + file;
    EXPECT_TRUE(device_.CeMoveFile(file.c_str(), moved.c_str()));
    EXPECT_EQ(TempFolder::ReadFile(root_ / ("dir\xC0\xAF/" + latin1)), "bytes");
}

// Every operation, given a path that tries to leave the device folder, must fail and
// leave the outside folder exactly as it was.
TEST_F(FolderDeviceNamesTest, NoPathLeavesTheDeviceFolder) {
    fs::create_directory_symlink(outside_, root_ / "out");        // a folder outside
    fs::create_symlink(outside_ / "secret.txt", root_ / "leak");  // a file outside
    fs::create_symlink("../outside", root_ / "rel");              // relative, same place
    fs::create_directories(root_ / "folder");
    fs::create_directory_symlink(outside_, root_ / "folder/out");  // below a real folder
    temp_.WriteFile("device/other", "inside");
    mkfifo((root_ / "pipe").c_str(), 0644);
    EXPECT_EQ(Names("\\*.*"), (std::vector<std::string>{"folder", "other"}));  // links unseen

    const struct {
        std::string path;
        std::uint32_t error;
        bool link = false;  // names an existing link: what makes an entry finds it there
    } cases[] = {
        {"\\out", ERROR_ACCESS_DENIED, true},
        {"\\OUT", ERROR_ACCESS_DENIED, true},
        {"\\rel", ERROR_ACCESS_DENIED, true},
        {"\\leak", ERROR_ACCESS_DENIED, true},
        {"\\out\\secret.txt", ERROR_ACCESS_DENIED},
        {"\\out\\sub\\new.txt", ERROR_ACCESS_DENIED},
        {"\\folder\\out\\secret.txt", ERROR_ACCESS_DENIED},
        {"\\..\\outside\\secret.txt", ERROR_INVALID_NAME},
        {"folder/../../outside/secret.txt", ERROR_INVALID_NAME},
        {"\\folder\\..", ERROR_INVALID_NAME},
        {(outside_ / "secret.txt").string(), ERROR_PATH_NOT_FOUND},  // "/tmp/...": on the device
        {(outside_ / "new").string(), ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        for (Op op : {Op::Attributes, Op::Create, Op::Open, Op::Delete, Op::MoveFrom, Op::MoveTo,
                      Op::Mkdir, Op::Shortcut, Op::List}) {
            const bool makesEntry = op == Op::MoveTo || op == Op::Mkdir || op == Op::Shortcut;
            EXPECT_EQ(ErrorOf(op, c.path, op == Op::MoveFrom ? "\\stolen" : "\\other"),
                      c.link && makesEntry ? ERROR_ALREADY_EXISTS : c.error)
                << c.path << " " << static_cast<int>(op);
        }
    }
    EXPECT_EQ(TempFolder::ReadFile(root_ / "other"), "inside");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), {}), 1);
    EXPECT_EQ(TempFolder::ReadFile(outside_ / "secret.txt"), "secret");
    EXPECT_TRUE(fs::is_symlink(root_ / "leak"));

    // A registry file that is a link is not read.
    temp_.WriteFile("outside/registry.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\n\"DataPath\"=\"\\\\leaked\"\n");
    fs::create_symlink(outside_ / "registry.reg", root_ / ".registry.reg");
    HKEY key = 0;
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
}

constexpr std::uint32_t kBrowserFlags =
    FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY | FAF_NO_HIDDEN_SYS_ROMMODULES;

TEST_F(FolderDeviceNamesTest, ListsSortedByBytesMatchingWildcardsIgnoringCase) {
    for (const char* name :
         {"b.txt", "B.txt", "a", "\xC3\xA9.txt", ".hidden", "Zeta/inner/x", "SD Card/.storage-card",
          "Plain/inner/.storage-card", "Fake/.storage-card/x", "file.storage-card"}) {
        temp_.WriteFile(std::string("device/") + name, "");
    }
    fs::create_directory(root_ / ".trash");
    const std::vector<std::string> all = {
        ".hidden",     ".trash", "B.txt", "Fake",  "Plain",
        "SD Card",     "Zeta",   "a",     "b.txt", "file.storage-card",
        "\xC3\xA9.txt"};
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"\\*.*", all},
        {"*", all},
        {"\\*.TXT", {"B.txt", "b.txt", "\xC3\xA9.txt"}},
        {"\\?.txt", {"B.txt", "b.txt", "\xC3\xA9.txt"}},  // "?" is one character of any size
        {"\\??.txt", {}},
        {"\\zeta\\*.*", {"inner"}},
        {"\\*.none", {}},
    };
    for (const auto& [pattern, names] : cases) {
        EXPECT_EQ(Names(pattern), names) << pattern;
    }
    EXPECT_EQ(Names("\\*.txt", FAF_NAME | FAF_NO_HIDDEN_SYS_ROMMODULES).size(), 3u);
    EXPECT_EQ(Names("\\*.*", FAF_NAME | FAF_NO_HIDDEN_SYS_ROMMODULES).front(), "B.txt");
    // Folders only, with storage cards (a marker file at the top) told apart.
    std::vector<std::pair<std::string, std::uint32_t>> top;
    for (const Found& found : List("\\*.*", kBrowserFlags)) {
        top.emplace_back(found.name, found.record.dwFileAttributes);
    }
    const std::uint32_t folder = FILE_ATTRIBUTE_DIRECTORY;
    const std::uint32_t card = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
    EXPECT_EQ(top, (decltype(top){
                       {"Fake", folder}, {"Plain", folder}, {"SD Card", card}, {"Zeta", folder}}));
    EXPECT_EQ(Attributes("\\sd card"), card);
    EXPECT_EQ(Attributes("\\Plain\\inner"), folder);
    EXPECT_EQ(Attributes("\\.hidden"),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(FolderDeviceNamesTest, ListingsFillOnlyWhatTheFlagsAskFor) {
    temp_.WriteFile("device/file.bin", std::string(5000, 'f'));
    chmod((root_ / "file.bin").c_str(), 0444);
    fs::create_directory(root_ / std::string(255, 'x'));  // the longest name fits whole
    const timespec times[2] = {{1000000000, 0}, {1600000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "file.bin").c_str(), times, 0), 0);
    const auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    const std::uint32_t allFlags = FAF_NAME | FAF_ATTRIBUTES | FAF_SIZE_LOW | FAF_SIZE_HIGH |
                                   FAF_LASTWRITE_TIME | FAF_LASTACCESS_TIME;
    for (std::uint32_t flags : {std::uint32_t{FAF_NAME}, std::uint32_t{FAF_ATTRIBUTES}, allFlags}) {
        std::vector<Found> found = List("\\*.*", flags);
        ASSERT_EQ(found.size(), 2u);
        const bool all = flags == allFlags;
        EXPECT_EQ(found[0].name, flags & FAF_NAME ? "file.bin" : "");
        EXPECT_EQ(found[1].name, flags & FAF_NAME ? std::string(255, 'x') : "");
        EXPECT_EQ(found[0].record.dwFileAttributes,
                  flags & FAF_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY : 0u);
        EXPECT_EQ(found[0].record.nFileSizeLow, all ? 5000u : 0u);
        EXPECT_EQ(ticks(found[0].record.ftLastWriteTime),
                  all ? (1600000000 + 11644473600ULL) * 10000000 + 5 : 0u);
        EXPECT_EQ(ticks(found[0].record.ftLastAccessTime),
                  all ? (1000000000 + 11644473600ULL) * 10000000 : 0u);
    }
    // Arrays stay valid until freed, each once.
    std::uint32_t count = 0;
    CE_FIND_DATA* first = nullptr;
    ASSERT_TRUE(device_.CeFindAllFiles(u"\\*.*", FAF_NAME, &count, &first));
    EXPECT_EQ(device_.CeRapiFreeBuffer(first), S_OK);
    EXPECT_LT(device_.CeRapiFreeBuffer(first), 0);
    EXPECT_FALSE(device_.CeFindAllFiles(u"\\*.*", FAF_NAME, nullptr, &first));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace zephyrate::test
