#include "platform/RegistryFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

constexpr std::string_view kKey = "HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate";

TEST(RegistryDocumentTest, ReadsExportsOfBothEncodingsKeepsUnknownFormsAndSkipsDamage) {
    RegistryDocument document = RegistryDocument::Parse(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"Binary\"=hex:01,02,03,\\\r\n  04,05\r\n; a comment\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\r\n"
        "\"Expand\"=hex(2):41,00,00,00\r\n\"Broken\"=\"no end\r\ngarbage line\r\n"
        "\"Junk\"=\"a\"b\r\n\"Dontask\"=dword:123456789\r\n\"AutoClose\"=dword:0000000a\r\n"
        "\"Name\"=hex:01,\\\r\n  02\r\n");
    // Key paths and names compare without case and without a trailing backslash.
    EXPECT_EQ(document.Find("hkey_current_user\\software\\kestrelwynd\\zephyrate\\", "autoclose"),
              RegistryValue::Number(10));
    for (const char* unread : {"Broken", "Junk", "Dontask", "Expand", "Name"}) {
        EXPECT_FALSE(document.Find(kKey, unread)) << unread;
    }
    EXPECT_FALSE(document.HasKey("HKEY_CURRENT_USER\\Software"));

    // A rewrite keeps every line it does not understand, drops the damaged ones and
    // replaces a value where it stands, with the continuation lines of its old form.
    document.Set(kKey, "Name", RegistryValue::Text("new"));
    document.Set(kKey, "Big", RegistryValue::Number(0xFFFFFFFA));
    EXPECT_EQ(document.Serialize(),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Binary\"=hex:01,02,03,\\\n  04,05\n; a comment\n\n"
              "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n"
              "\"Expand\"=hex(2):41,00,00,00\n\"AutoClose\"=dword:0000000a\n\"Name\"=\"new\"\n"
              "\"Big\"=dword:fffffffa\n");

    // Exports made by the device are UTF-16 with a byte order mark.
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\r\n"
        u"\"DataPath\"=\"\\\\Storage \u00e9\U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    EXPECT_EQ(
        RegistryDocument::Parse(bytes).Find("HKEY_LOCAL_MACHINE\\SYSTEM\\Platform", "DataPath"),
        RegistryValue::Text("\\Storage \xC3\xA9\xF0\x9F\x98\x80"));
}

// A link stays a link and its target takes the change; the temporary file of a killed
// write beside the target goes with the next write, look-alikes stay. A new file is
// private and replaced whole; a line break, which the format cannot hold, changes nothing.
TEST(RegistryFileTest, WritesThroughLinksIntoAPrivateFileReplacedWhole) {
    TempFolder folder;
    folder.WriteFile("real/s.reg", "Windows Registry Editor Version 5.00\n");
    const fs::path stale = folder.WriteFile("real/.s.reg.AbC123", "password");
    const fs::path alike = folder.WriteFile("real/.s.reg.AbC1234", "mine");
    fs::create_directories(folder / "links");
    fs::create_symlink("../real/s.reg", folder / "links/relative");
    fs::create_symlink(folder / "links/relative", folder / "links/chain");
    fs::create_symlink("new.reg", folder / "real/dangling");
    fs::create_symlink("loop", folder / "links/loop");
    const std::pair<const char*, const char*> cases[] = {
        // link, then the file that takes the change; nullptr: none
        {"links/relative", "real/s.reg"},
        {"links/chain", "real/s.reg"},
        {"real/dangling", "real/new.reg"},
        {"links/loop", nullptr}};
    for (const auto& [link, target] : cases) {
        RegistryFile file((folder / link).string());
        std::string reason;
        EXPECT_EQ(file.Write(kKey, "PrePath", RegistryValue::Text(link), &reason),
                  target != nullptr)
            << link;
        EXPECT_TRUE(fs::is_symlink(folder / link)) << link;
        if (target != nullptr) {
            EXPECT_EQ(RegistryFile((folder / target).string()).Read(kKey, "PrePath"),
                      RegistryValue::Text(link));
        } else {
            EXPECT_EQ(reason, "its link cannot be followed (Too many levels of symbolic links)");
        }
    }
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_EQ(TempFolder::ReadFile(alike), "mine");

    RegistryFile file((folder / "config/zephyrate/settings.reg").string());
    ASSERT_TRUE(file.Write(kKey, "PrePath", RegistryValue::Text("\\Zephyrate")));
    struct stat first {
    }, second{};
    ASSERT_EQ(::stat(file.Path().c_str(), &first), 0);
    EXPECT_FALSE(file.Write(kKey, "PrePath", RegistryValue::Text("a\nb")));
    ASSERT_TRUE(file.Write(kKey, "Dontask", RegistryValue::Number(0)));
    ASSERT_EQ(::stat(file.Path().c_str(), &second), 0);
    EXPECT_EQ(second.st_mode & 07777, 0600u);
    EXPECT_NE(second.st_ino, first.st_ino);
    EXPECT_EQ(file.Read(kKey, "PrePath"), RegistryValue::Text("\\Zephyrate"));
}

}  // namespace
}  // namespace zephyrate
