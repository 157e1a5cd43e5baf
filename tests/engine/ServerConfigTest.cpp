#include "engine/ServerConfig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace zephyrate {
namespace {

using Items = std::vector<std::string>;

ServerConfig Parse(std::string_view body) {
    ServerConfig config;
    EXPECT_TRUE(config.LoadText(body));
    return config;
}

std::string Value(const ServerConfig& config, std::string_view key) {
    std::string value = "<none>";
    config.FindValue(key, 0, value);
    return value;
}

TEST(ServerConfigTest, ReadsTheExampleIndex) {
    ServerConfig config = Parse(
        "Header:Zephyrate v1.0\n"
        "CEFolder: \\News\\\n"
        "File: docs/manual.pdf, exe:Manual\n"
        "File: index.htm, link:Front page\n");

    EXPECT_EQ(Value(config, "Header:"), "Zephyrate v1.0");
    EXPECT_EQ(Value(config, "CEFolder:"), " \\News\\");

    std::vector<FileEntry> entries = config.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "docs/manual.pdf");
    EXPECT_EQ(entries[0].ShortcutFile, "Manual.lnk");
    EXPECT_EQ(entries[0].FavoriteFile, "");
    EXPECT_EQ(entries[1].Name, "index.htm");
    EXPECT_EQ(entries[1].FavoriteFile, "Front page.url");
    EXPECT_FALSE(entries[1].UrlIsAbsolute);
}

TEST(ServerConfigTest, FindValueWalksLinesInOrderAndReportsLineEnds) {
    ServerConfig config = Parse("File: a\r\nfile: b\nFILE: c");
    std::string value;
    std::ptrdiff_t pos = config.FindValue("File:", 0, value);
    EXPECT_EQ(value, " a");
    EXPECT_EQ(pos, 7);  // the carriage return before the line feed
    pos = config.FindValue("File:", pos, value);
    EXPECT_EQ(value, " b");
    pos = config.FindValue("File:", pos, value);
    EXPECT_EQ(value, " c");  // the last line needs no line feed
    std::string untouched = "kept";
    EXPECT_EQ(config.FindValue("File:", pos, untouched), -1);
    EXPECT_EQ(untouched, "kept");
    EXPECT_EQ(config.Text(), "File: a\r\nfile: b\nFILE: c\n");
}

TEST(ServerConfigTest, HeaderValueKeepsItsExactForm) {
    EXPECT_EQ(Value(Parse("Header:zephyrate v1.0\r\n"), "Header:"), "zephyrate v1.0");
    EXPECT_EQ(Value(Parse("header:ZEPHYRATE V1.0"), "Header:"), "ZEPHYRATE V1.0");
    EXPECT_EQ(Value(Parse("Header: zephyrate v1.0\n"), "Header:"), " zephyrate v1.0");
    EXPECT_EQ(Value(Parse("Header:zephyrate v1.0 \n"), "Header:"), "zephyrate v1.0 ");
    // Only the first of two headers counts.
    EXPECT_EQ(Value(Parse("Header:first\nHeader:second\n"), "Header:"), "first");
    // A commented header is no header.
    EXPECT_EQ(Value(Parse("#Header:zephyrate v1.0\n"), "Header:"), "<none>");
    // A key inside another line counts too.
    EXPECT_EQ(Value(Parse("Splash: see header:x\nHeader:zephyrate v1.0\n"), "Header:"), "x");
}

TEST(ServerConfigTest, HeaderCheckAndDestinationFolder) {
    EXPECT_TRUE(Parse("Header:zephyrate v1.0\r\n").HasValidHeader());
    EXPECT_TRUE(Parse("header:ZEPHYRATE V1.0").HasValidHeader());
    EXPECT_FALSE(Parse("Header: zephyrate v1.0\n").HasValidHeader());
    EXPECT_FALSE(Parse("Header:zephyrate v1.0 \n").HasValidHeader());
    EXPECT_FALSE(Parse("File: a\n").HasValidHeader());

    EXPECT_EQ(Parse("CEFolder: \\News\\ \n").DestinationFolder(), "News");
    EXPECT_EQ(Parse("CEFolder:/a/b\\").DestinationFolder(), "a/b");
    // Each kind of character is removed once per end, in a fixed order: '/' then '\'
    // at the end are both removed, '\' then '/' keeps the '\'.
    EXPECT_EQ(Parse("CEFolder:x/\\").DestinationFolder(), "x");
    EXPECT_EQ(Parse("CEFolder:x\\/").DestinationFolder(), "x\\");
    EXPECT_EQ(Parse("CEFolder: \\/ \n").DestinationFolder(), "");
    EXPECT_EQ(Parse("File: a\n").DestinationFolder(), "");
}

TEST(ServerConfigTest, CommentsEndAtTheLineFeedWhereverTheyStand) {
    ServerConfig config =
        Parse("File: a#b.htm, link:Gone\nFile: c.htm # note\n# File: d\nFile: e#");
    std::vector<FileEntry> entries = config.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "a");
    EXPECT_EQ(entries[0].FavoriteFile, "");
    EXPECT_EQ(entries[1].Name, "c.htm");
    EXPECT_EQ(entries[2].Name, "e");
    EXPECT_EQ(config.Text(), "File: a\nFile: c.htm \n\nFile: e\n");
}

TEST(ServerConfigTest, SplitListCutsAtEveryCommaAndTrims) {
    EXPECT_EQ(ServerConfig::SplitList(""), Items{""});
    EXPECT_EQ(ServerConfig::SplitList(" a.htm ,\tlink: X ,exe:Y"),
              (Items{"a.htm", "link: X", "exe:Y"}));
    EXPECT_EQ(ServerConfig::SplitList("a,,b,"), (Items{"a", "", "b", ""}));
    Items items{"stale"};
    EXPECT_EQ(Parse("nothing here").FindList("File:", 0, items), -1);
    EXPECT_TRUE(items.empty());
}

TEST(ServerConfigTest, OptionsTakeAnyCaseAndTheLastOfAKindWins) {
    ServerConfig config = Parse(
        "File: a.htm, LINK:Start, Exe:Run\n"
        "File: b.htm, link: Start\n"
        "File: c.pdf, exe:Reader, exe:Viewer, link:One, other:x, link:Two\n"
        "File: , exe:Reader\n"
        "File:\n");
    std::vector<FileEntry> entries = config.Entries();
    ASSERT_EQ(entries.size(), 3u);  // empty first items make no entry
    EXPECT_EQ(entries[0].FavoriteFile, "Start.url");
    EXPECT_EQ(entries[0].ShortcutFile, "Run.lnk");
    EXPECT_EQ(entries[1].FavoriteFile, " Start.url");  // the blank after the colon stays
    EXPECT_EQ(entries[2].ShortcutFile, "Viewer.lnk");
    EXPECT_EQ(entries[2].FavoriteFile, "Two.url");
}

TEST(ServerConfigTest, FileLinesComeBeforeUrlLinesAndKeysHideInOtherLines) {
    ServerConfig config = Parse(
        "Url: http://example.test/dir/file.zip, link:Zip\n"
        "Splash: New file: Manual\n"
        "File: a.htm\n"
        "url: http://example.test/dir/\n"
        "Url: bare\n");
    std::vector<FileEntry> entries = config.Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].Name, "Manual");  // "file:" inside the splash line
    EXPECT_EQ(entries[1].Name, "a.htm");
    EXPECT_EQ(entries[2].Name, "file.zip");
    EXPECT_EQ(entries[2].Url, "http://example.test/dir/file.zip");
    EXPECT_TRUE(entries[2].UrlIsAbsolute);
    EXPECT_EQ(entries[2].FavoriteFile, "Zip.url");
    EXPECT_EQ(entries[3].Name, "");  // an address ending in '/' has an empty name
    EXPECT_EQ(entries[4].Name, "bare");
}

TEST(FileEntryTest, StartsEmptyAndBuildsNames) {
    FileEntry entry;
    EXPECT_EQ(entry.ServerLength, 0xFFFFFFFFu);
    EXPECT_EQ(entry.DeviceLength, 0xFFFFFFFFu);
    EXPECT_EQ(entry.Row, -1);
    EXPECT_FALSE(entry.UrlIsAbsolute);
    EXPECT_TRUE(entry.SetUrl("http://host\\share\\x.bin"));
    EXPECT_EQ(entry.Name, "x.bin");
    FileEntry copy = entry;
    copy.AddShortcut("S");
    EXPECT_EQ(copy.Url, entry.Url);
    EXPECT_EQ(copy.ShortcutFile, "S.lnk");
    EXPECT_EQ(entry.ShortcutFile, "");
}

TEST(ServerConfigTest, OddBodiesParseWithoutHarm) {
    // Zero bytes, no line feed at all, a lone key at the very end.
    ServerConfig zeros = Parse(std::string("Header:a\0b\nFile: x\0y\n", 22));
    EXPECT_EQ(Value(zeros, "Header:"), std::string("a\0b", 3));
    EXPECT_EQ(zeros.Entries().size(), 1u);
    EXPECT_EQ(Value(Parse(std::string(100000, 'x')), "File:"), "<none>");
    EXPECT_EQ(Value(Parse("File:"), "File:"), "");
    EXPECT_EQ(Parse("").Text(), "\n");

    // Megabytes of lines parse in linear time.
    std::string big;
    for (int i = 0; i < 100000; ++i) {
        big += "File: folder/file" + std::to_string(i) + ".htm, link:L, exe:E # c\n";
    }
    auto started = std::chrono::steady_clock::now();
    std::vector<FileEntry> entries = Parse(big).Entries();
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(entries.size(), 100000u);
    EXPECT_EQ(entries.back().Name, "folder/file99999.htm");
    EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
}  // namespace zephyrate
