#include "platform/RegistryFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

using test::TempFolder;

constexpr std::string_view kKey = "HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate";

TEST(RegistryDocumentTest, RoundTripsTextAndNumbers) {
    RegistryDocument document;
    const std::string awkward = "C:\\Dir \"quoted\" \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \\\\end\\";
    document.Set(kKey, "PrePath", RegistryValue::Text(awkward));
    document.Set(kKey, "UseProxy", RegistryValue::Number(0xA));
    document.Set(kKey, "Big", RegistryValue::Number(0xFFFFFFFF));
    const std::string text = document.Serialize();

    EXPECT_NE(text.find("\"UseProxy\"=dword:0000000a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"PrePath\"=\"C:\\\\Dir \\\"quoted\\\""), std::string::npos) << text;
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);

    RegistryDocument again = RegistryDocument::Parse(text);
    EXPECT_EQ(again.Find(kKey, "PrePath"), RegistryValue::Text(awkward));
    EXPECT_EQ(again.Find(kKey, "useproxy"), RegistryValue::Number(10));
    EXPECT_EQ(again.Find(kKey, "Big"), RegistryValue::Number(0xFFFFFFFF));
    // Key paths compare without case and without a trailing backslash.
    EXPECT_EQ(again.Find("hkey_current_user\\software\\kestrelwynd\\zephyrate\\", "Big"),
              RegistryValue::Number(0xFFFFFFFF));
    EXPECT_EQ(again.Serialize(), text);
}

TEST(RegistryDocumentTest, KeepsWhatItDoesNotUnderstandAndSkipsDamage) {
    const std::string original =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"Binary\"=hex:01,02,03,\\\r\n"
        "  04,05\r\n"
        "; a comment\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\r\n"
        "\"Expand\"=hex(2):41,00,00,00\r\n"
        "\"Broken\"=\"no end\r\n"
        "garbage line\r\n"
        "\"Dontask\"=dword:zz\r\n"
        "\"AutoClose\"=dword:00000005\r\n"
        "\"Name\"=\"ok\"\r\n";
    RegistryDocument document = RegistryDocument::Parse(original);
    EXPECT_EQ(document.Find(kKey, "AutoClose"), RegistryValue::Number(5));
    EXPECT_EQ(document.Find(kKey, "Name"), RegistryValue::Text("ok"));
    EXPECT_FALSE(document.Find(kKey, "Broken"));
    EXPECT_FALSE(document.Find(kKey, "Dontask"));
    EXPECT_FALSE(document.Find(kKey, "Expand"));  // a form we keep but do not read
    EXPECT_TRUE(document.HasKey("hkey_current_user\\software\\other\\"));
    EXPECT_FALSE(document.HasKey("HKEY_CURRENT_USER\\Software"));

    document.Set(kKey, "Name", RegistryValue::Text("new"));
    document.Set(kKey, "Added", RegistryValue::Number(1));
    const std::string text = document.Serialize();
    EXPECT_NE(text.find("\"Binary\"=hex:01,02,03,\\\n  04,05\n; a comment\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Expand\"=hex(2):41,00,00,00\n"), std::string::npos);
    EXPECT_EQ(text.find("garbage"), std::string::npos);
    EXPECT_NE(text.find("\"Name\"=\"new\"\n\"Added\"=dword:00000001\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\"Name\"=\"ok\""), std::string::npos);
}

TEST(RegistryDocumentTest, ReadsUtf16WithByteOrderMark) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\r\n"
        u"\"DataPath\"=\"\\\\Storage \u00e9\U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    RegistryDocument document = RegistryDocument::Parse(bytes);
    EXPECT_EQ(document.Find("HKEY_LOCAL_MACHINE\\SYSTEM\\Platform", "DataPath"),
              RegistryValue::Text("\\Storage \xC3\xA9\xF0\x9F\x98\x80"));
}

TEST(RegistryFileTest, WritesAtomicallyWithPrivateMode) {
    TempFolder folder;
    RegistryFile file((folder / "config/zephyrate/settings.reg").string());
    EXPECT_FALSE(file.Read(kKey, "PrePath"));  // no file: absent

    ASSERT_TRUE(file.Write(kKey, "PrePath", RegistryValue::Text("\\Zephyrate")));
    struct stat info {};
    ASSERT_EQ(::stat(file.Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const ino_t firstInode = info.st_ino;

    ASSERT_TRUE(file.Write(kKey, "Dontask", RegistryValue::Number(0)));
    ASSERT_EQ(::stat(file.Path().c_str(), &info), 0);
    EXPECT_NE(info.st_ino, firstInode);  // replaced, not rewritten in place
    EXPECT_EQ(file.Read(kKey, "PrePath"), RegistryValue::Text("\\Zephyrate"));
    EXPECT_EQ(file.Read(kKey, "Dontask"), RegistryValue::Number(0));

    // No temporary files are left beside it.
    int entries = 0;
    for ([[maybe_unused]] auto& entry :
         std::filesystem::directory_iterator(folder / "config/zephyrate")) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(RegistryFileTest, UnusableFilesReadAsAbsentAndFailedWritesKeepTheOld) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "is-a-folder");
    RegistryFile folderFile((folder / "is-a-folder").string());
    EXPECT_FALSE(folderFile.Read(kKey, "PrePath"));
    EXPECT_FALSE(folderFile.Write(kKey, "PrePath", RegistryValue::Text("x")));

    RegistryFile damaged(
        folder.WriteFile("damaged.reg", std::string("\0\xFF[[[\n\"x", 8)).string());
    EXPECT_FALSE(damaged.Read(kKey, "PrePath"));
    EXPECT_TRUE(damaged.Write(kKey, "PrePath", RegistryValue::Text("ok")));
    EXPECT_EQ(damaged.Read(kKey, "PrePath"), RegistryValue::Text("ok"));

    // A value with a line break cannot be stored in this format; the file stays as it was.
    EXPECT_FALSE(damaged.Write(kKey, "PrePath", RegistryValue::Text("a\nb")));
    EXPECT_EQ(damaged.Read(kKey, "PrePath"), RegistryValue::Text("ok"));
}

TEST(RegistryFileTest, ConcurrentProcessesLoseNoUpdate) {
    TempFolder folder;
    const std::string path = (folder / "settings.reg").string();
    constexpr int kWriters = 2;
    constexpr int kValues = 100;
    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            RegistryFile file(path);
            bool ok = true;
            for (int i = 0; i < kValues; ++i) {
                ok = file.Write(kKey, "W" + std::to_string(w) + "_" + std::to_string(i),
                                RegistryValue::Number(static_cast<std::uint32_t>(i))) &&
                     ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryFile file(path);
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValues; ++i) {
            EXPECT_EQ(file.Read(kKey, "W" + std::to_string(w) + "_" + std::to_string(i)),
                      RegistryValue::Number(static_cast<std::uint32_t>(i)))
                << w << " " << i;
        }
    }
}

TEST(RegistryFileTest, LocationFollowsOptionEnvironmentAndXdg) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    EXPECT_EQ(RegistryFile::DefaultLocation("/x/s.reg"), "/x/s.reg");
    ::setenv("ZEPHYRATE_SETTINGS", "/env/s.reg", 1);
    EXPECT_EQ(RegistryFile::DefaultLocation(""), "/env/s.reg");
    ::unsetenv("ZEPHYRATE_SETTINGS");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(RegistryFile::DefaultLocation(""), "/cfg/zephyrate/settings.reg");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(RegistryFile::DefaultLocation(""), "/home/u/.config/zephyrate/settings.reg");
    ::setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace zephyrate
