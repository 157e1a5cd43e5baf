#include "engine/ServerConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zephyrate {
namespace {

using Texts = std::vector<std::string>;

ServerConfig Parse(std::string_view body) {
    ServerConfig config;
    EXPECT_TRUE(config.LoadText(body));
    return config;
}

// Each entry as "name|url|favorite|shortcut", "abs" added for absolute addresses.
Texts Entries(std::string_view body) {
    Texts out;
    for (const FileEntry& entry : Parse(body).Entries()) {
        out.push_back(entry.Name + "|" + entry.Url + "|" + entry.FavoriteFile + "|" +
                      entry.ShortcutFile + (entry.UrlIsAbsolute ? "|abs" : ""));
    }
    return out;
}

TEST(ServerConfigTest, ValuesKeepTheirExactFormAndTheHeaderMustMatchIt) {
    const struct {
        std::string body, header;  // header: the value of "Header:"
        bool valid;
    } cases[] = {
        {"Header:zephyrate v1.0\r\n", "zephyrate v1.0", true},
        {"header:ZEPHYRATE V1.0", "ZEPHYRATE V1.0", true},  // the last line needs no line feed
        {"Header: zephyrate v1.0\n", " zephyrate v1.0", false},
        {"Header:zephyrate v1.0 \n", "zephyrate v1.0 ", false},
        {"Header:zephyrate v1.0\nHeader:second\n", "zephyrate v1.0", true},  // the first counts
        {"#Header:zephyrate v1.0\n", "<none>", false},
        {"Splash: see header:x\nHeader:zephyrate v1.0\n", "x", false},  // keys hide in lines
        {std::string("Header:a\0b\n", 11), std::string("a\0b", 3), false},
        {std::string(100000, 'x'), "<none>", false},
        {"Header:", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 40));
        const ServerConfig config = Parse(c.body);
        std::string header = "<none>";
        config.FindValue("Header:", 0, header);
        EXPECT_EQ(header, c.header);
        EXPECT_EQ(config.HasValidHeader(), c.valid);
    }

    // Each kind of character is removed once per end, in a fixed order: '/' then '\' at
    // the end are both removed, '\' then '/' keeps the '\'.
    const std::pair<std::string, std::string> folders[] = {
        {"CEFolder: \\News\\ \n", "News"}, {"CEFolder:/a/b\\", "a/b"}, {"CEFolder:x/\\", "x"},
        {"CEFolder:x\\/", "x\\"},          {"File: a\n", ""},
    };
    for (const auto& [body, folder] : folders) {
        EXPECT_EQ(Parse(body).DestinationFolder(), folder) << body;
    }
}

TEST(ServerConfigTest, EntriesFollowTheFileLinesThenTheUrlLines) {
    const std::pair<std::string, Texts> cases[] = {
        {"Header:Zephyrate v1.0\nCEFolder: \\News\\\nFile: docs/manual.pdf, exe:Manual\n"
         "File: index.htm, link:Front page\n",
         {"docs/manual.pdf|||Manual.lnk", "index.htm||Front page.url|"}},
        // Comments end at the line feed wherever they stand.
        {"File: a#b.htm, link:Gone\nFile: c.htm # note\n# File: d\nFile: e#",
         {"a|||", "c.htm|||", "e|||"}},
        // Options in any case, the last of a kind wins, the blank after the colon stays,
        // an empty first item makes no entry.
        {"File: a.htm, LINK:Start, Exe:Run\nFile: b.htm, link: Start\n"
         "File: c.pdf, exe:Reader, exe:Viewer, link:One, other:x, link:Two\n"
         "File: , exe:Reader\nFile:\nFile: d, ,",
         {"a.htm||Start.url|Run.lnk", "b.htm|| Start.url|", "c.pdf||Two.url|Viewer.lnk", "d|||"}},
        // "file:" inside another line counts; Url lines come after File lines; an address
        // ending in '/' has an empty name; a '\' also ends a directory.
        {"Url: http://example.test/dir/file.zip, link:Zip\nSplash: New file: Manual\n"
         "File: a.htm\nurl: http://example.test/dir/\nUrl: http://host\\share\\x.bin\n",
         {"Manual|||", "a.htm|||", "file.zip|http://example.test/dir/file.zip|Zip.url||abs",
          "|http://example.test/dir/|||abs", "x.bin|http://host\\share\\x.bin|||abs"}},
        {std::string("Header:a\nFile: x\0y\n", 19), {std::string("x\0y|||", 6)}},
        {"", {}},
    };
    for (const auto& [body, entries] : cases) {
        EXPECT_EQ(Entries(body), entries) << body.substr(0, 40);
    }
    // What is kept of the text: comments cut, a line feed at the end.
    EXPECT_EQ(Parse("File: a\r\nfile: b # c\n# d").Text(), "File: a\r\nfile: b \n\n");
}

}  // namespace
}  // namespace zephyrate
