#include "settings/SettingsStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::TempFolder;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::string_view kHead =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n";

// Every value set away from its default.
constexpr std::string_view kAllStored =
    "\"AutoClose\"=dword:00000000\n\"Dontask\"=dword:00000000\n\"Minimize\"=dword:00000001\n"
    "\"ProxyAuth\"=dword:00000001\n\"UseProxy\"=dword:00000003\n\"PrePath\"=\"\\\\Card\"\n"
    "\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"8080\"\n\"ProxyUsername\"=\"pu\"\n"
    "\"ProxyPassword\"=\"pp\"\n\"UserUsername\"=\"uu\"\n\"UserPassword\"=\"up\"\n"
    "\"DeviceFolder\"=\"/media/card\"\n";
constexpr std::string_view kAllStoredRead =
    "AutoClose=0 Dontask=0 Minimize=1 ProxyAuth=1 UseProxy=3 PrePath=\\Card ProxyServer=proxy "
    "ProxyPort=8080 ProxyUsername=pu ProxyPassword=pp UserUsername=uu UserPassword=up "
    "DeviceFolder=/media/card ProxyAddress=proxy:8080";
constexpr std::string_view kDefaults =
    "AutoClose=1 Dontask=1 Minimize=0 ProxyAuth=0 UseProxy=0 PrePath= ProxyServer= ProxyPort= "
    "ProxyUsername= ProxyPassword= UserUsername= UserPassword= DeviceFolder= ProxyAddress=";

// Every reader once, in one line that a failed comparison prints whole.
std::string AllValues(SettingsStore& s) {
    std::ostringstream out;
    out << "AutoClose=" << s.AutoClose() << " Dontask=" << s.Dontask()
        << " Minimize=" << s.Minimize() << " ProxyAuth=" << s.ProxyAuth()
        << " UseProxy=" << s.UseProxy() << " PrePath=" << s.PrePath()
        << " ProxyServer=" << s.ProxyServer() << " ProxyPort=" << s.ProxyPort()
        << " ProxyUsername=" << s.ProxyUsername() << " ProxyPassword=" << s.ProxyPassword()
        << " UserUsername=" << s.UserUsername() << " UserPassword=" << s.UserPassword()
        << " DeviceFolder=" << s.DeviceFolder() << " ProxyAddress=" << s.ProxyAddress();
    return out.str();
}

// What a reader must not change: bytes, inode, time stamp, mode and the folder's entries.
std::string StateOf(const fs::path& file) {
    struct stat info {};
    std::string state = "missing";
    if (::lstat(file.c_str(), &info) == 0) {
        state = std::to_string(info.st_ino) + " " + std::to_string(info.st_mtim.tv_nsec) + " " +
                std::to_string(info.st_mode & 07777) + " " + TempFolder::ReadFile(file);
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), error)) {
        state += " " + entry.path().filename().string();
    }
    return state;
}

unsigned ModeOf(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    fs::path File() const { return folder_ / "zephyrate/settings.reg"; }
    void Store(std::string_view body) const {
        folder_.WriteFile("zephyrate/settings.reg", std::string(kHead) + std::string(body));
    }
    TempFolder folder_;
};

TEST_F(SettingsStoreTest, FreshProfileReadsDefaultsAndCreatesThePrivateKey) {
    SettingsStore store(File().string());
    EXPECT_FALSE(fs::exists(File()));  // constructing reads nothing
    EXPECT_TRUE(store.AutoClose());
    EXPECT_EQ(TempFolder::ReadFile(File()), std::string(kHead));
    EXPECT_EQ(ModeOf(File()), 0600u);
    const std::string created = StateOf(File());
    EXPECT_EQ(AllValues(store), kDefaults);
    EXPECT_EQ(StateOf(File()), created);
}

TEST_F(SettingsStoreTest, StoredFormsReadAsTheirValueOrTheDefault) {
    const std::string x254(254, 'x');
    const std::pair<std::string, std::string> cases[] = {
        // stored lines, then the value as read
        {"\"AutoClose\"=dword:00000005", "AutoClose=1"},
        {"\"Dontask\"=dword:0", "Dontask=0"},
        {"\"MINIMIZE\"=dword:00000001", "Minimize=1"},
        {"\"UseProxy\"=dword:ffffffff", "UseProxy=-1"},
        // Another type than the one written reads as the default.
        {"\"Dontask\"=\"0\"", "Dontask=1"},
        {"\"Minimize\"=hex:01,00,00,00", "Minimize=0"},
        {"\"UseProxy\"=\"3\"", "UseProxy=0"},
        {"\"ProxyServer\"=dword:00000001", "ProxyServer="},
        // Roots gain their leading backslash when read; the file keeps what it has.
        {"\"PrePath\"=\"Storage Card\\\\Zephyrate\"", "PrePath=\\Storage Card\\Zephyrate"},
        {"\"PrePath\"=\"\"", "PrePath="},
        {"\"PrePath\"=\"\\\\My Documents\"", "PrePath=\\My Documents"},
        // A 255-byte buffer holds 254 bytes and the terminating zero.
        {"\"ProxyServer\"=\"" + x254 + "\"", "ProxyServer=" + x254},
        {"\"ProxyServer\"=\"" + x254 + "y\"", "ProxyServer="},
        {"\"ProxyServer\"=\"" + std::string(300, 'x') + "\"", "ProxyServer="},
        {"\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"80\"", "ProxyAddress=proxy:80"},
        {"\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"\"", "ProxyAddress=proxy"},
        {"\"ProxyPort\"=\"80\"", "ProxyAddress=:80"},
        // The last of two lines counts, as when the editor imports the file.
        {"\"ProxyPort\"=\"1\"\n\"proxyport\"=\"2\"", "ProxyPort=2"},
    };
    for (const auto& [stored, read] : cases) {
        Store(stored + "\n");
        const std::string before = StateOf(File());
        SettingsStore store(File().string());
        EXPECT_THAT(" " + AllValues(store) + " ", HasSubstr(" " + read + " "))
            << stored.substr(0, 60);
        EXPECT_EQ(StateOf(File()), before) << stored.substr(0, 60);
    }
}

TEST_F(SettingsStoreTest, WritesStoreExactFormsKeepForeignLinesAndStayPrivate) {
    const std::string foreign =
        "[HKEY_CURRENT_USER\\Software\\Other]\n\"Keep\"=\"me\"\n; the user's note\n"
        "\"Bin\"=hex:01,02,\\\n  03,04\n";
    folder_.WriteFile("zephyrate/settings.reg",
                      "Windows Registry Editor Version 5.00\n\n" + foreign + "\n" +
                          "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n"
                          "\"Expand\"=hex(2):41,00,00,00\n\"AutoClose\"=dword:00000005\n"
                          "\"Minimize\"=hex:01,\\\n  0c,0d,0e\n");
    SettingsStore store(File().string());
    EXPECT_TRUE(store.AutoClose());
    store.SetAutoClose(true);
    EXPECT_THAT(TempFolder::ReadFile(File()), HasSubstr("\"AutoClose\"=dword:00000001\n"));
    store.SetUseProxy(-1);
    EXPECT_THAT(TempFolder::ReadFile(File()), HasSubstr("\"UseProxy\"=dword:ffffffff\n"));

    // The values of kAllStored, each written once.
    const std::function<void()> writes[] = {[&] { store.SetAutoClose(false); },
                                            [&] { store.SetDontask(false); },
                                            [&] { store.SetMinimize(true); },
                                            [&] { store.SetProxyAuth(true); },
                                            [&] { store.SetUseProxy(3); },
                                            [&] { store.SetPrePath("\\Card"); },
                                            [&] { store.SetProxyServer("proxy"); },
                                            [&] { store.SetProxyPort("8080"); },
                                            [&] { store.SetProxyUsername("pu"); },
                                            [&] { store.SetProxyPassword("pp"); },
                                            [&] { store.SetUserUsername("uu"); },
                                            [&] { store.SetUserPassword("up"); },
                                            [&] { store.SetDeviceFolder("/media/card"); }};
    for (const auto& write : writes) {
        fs::permissions(File(), fs::perms(0644));  // as if the user had opened it up
        write();
        EXPECT_EQ(ModeOf(File()), 0600u);
    }
    const std::string text = TempFolder::ReadFile(File());
    std::istringstream lines{std::string(kAllStored)};
    for (std::string line; std::getline(lines, line);) {
        EXPECT_THAT(text, HasSubstr(line + "\n"));
    }
    EXPECT_THAT(text, HasSubstr(foreign));
    EXPECT_THAT(text, HasSubstr("\"Expand\"=hex(2):41,00,00,00\n"));
    // A value of another form that a write replaced leaves none of its lines behind.
    EXPECT_THAT(text, Not(HasSubstr("0c,0d,0e")));
    SettingsStore again(File().string());
    EXPECT_EQ(AllValues(again), kAllStoredRead);
}

TEST_F(SettingsStoreTest, TextsRoundTripThroughTheFile) {
    using S = SettingsStore;
    const std::pair<void (S::*)(std::string_view), std::string (S::*)()> fields[] = {
        {&S::SetPrePath, &S::PrePath},
        {&S::SetProxyServer, &S::ProxyServer},
        {&S::SetProxyPort, &S::ProxyPort},
        {&S::SetProxyUsername, &S::ProxyUsername},
        {&S::SetProxyPassword, &S::ProxyPassword},
        {&S::SetUserUsername, &S::UserUsername},
        {&S::SetUserPassword, &S::UserPassword},
        {&S::SetDeviceFolder, &S::DeviceFolder}};
    std::string e254 = "\\";  // 254 bytes in 128 characters: the buffer counts bytes
    for (int i = 0; i < 126; ++i) {
        e254 += "\xC3\xA9";
    }
    e254 += 'x';
    // Doubled backslashes at the front, one at the end and one before a quote.
    const std::string texts[] = {"\\say \"hi\" [not a key] ;no comment a\"=\"b",
                                 "\\\\server\\share\\",
                                 "\\\\\"",
                                 "\\ \xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\xAD ",
                                 "\\dword:00000001",
                                 e254,
                                 ""};
    SettingsStore writer(File().string());
    for (const auto& [set, get] : fields) {
        for (const std::string& text : texts) {
            (writer.*set)(text);
            SettingsStore reader(File().string());
            EXPECT_EQ((reader.*get)(), text);
        }
        // A line break has no place in the format: the stored value stays.
        (writer.*set)("\\kept");
        (writer.*set)("\\two\nlines");
        SettingsStore reader(File().string());
        EXPECT_EQ((reader.*get)(), "\\kept");
        EXPECT_EQ(ModeOf(File()), 0600u);
    }
}

TEST_F(SettingsStoreTest, DamagedLinesHideNothingElse) {
    Store("\"AutoClose\"=dword:00000000\r\n\x01\xff\xfe\0 junk\x80\r\n"s +
          "\"ProxyServer\"=\"half a line\n"
          "\"Bin\"=hex:01,02,\\\n"  // its continuation line was lost
          "\"Minimize\"=dword:00000001\n"
          "[HKEY_CURRENT_USER\\Software\\Kestr\r"
          "\"ProxyPort\"=\"8080\"\n\"Dontask\"=dword:1x\n\"UserUsername\"=\"me\"\n\"UserPass");
    SettingsStore store(File().string());
    const std::string expected =
        "AutoClose=0 Dontask=1 Minimize=1 ProxyAuth=0 UseProxy=0 PrePath= ProxyServer= "
        "ProxyPort=8080 ProxyUsername= ProxyPassword= UserUsername=me UserPassword= "
        "DeviceFolder= ProxyAddress=:8080";
    EXPECT_EQ(AllValues(store), expected);
    store.SetProxyUsername("pu");  // a write keeps every value it understood
    std::string changed = expected;
    changed.insert(changed.find("ProxyUsername=") + 14, "pu");
    EXPECT_EQ(AllValues(store), changed);
}

TEST_F(SettingsStoreTest, UnusableFilesReadAsDefaults) {
    std::string garbage;
    for (unsigned i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 2654435761u) >> 13);
    }
    const struct {
        std::string name, content;
        fs::file_type after;  // a regular file when a later write reaches it
    } cases[] = {
        {"garbage", garbage, fs::file_type::regular},
        {"utf-16 garbage", "\xFF\xFE\x00\xD8["s + garbage, fs::file_type::regular},
        {"empty", "", fs::file_type::regular},
        {"folder", "", fs::file_type::directory},
        {"dangling link", "", fs::file_type::not_found},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(File().parent_path());
        fs::create_directories(File().parent_path());
        if (c.after == fs::file_type::directory) {
            fs::create_directories(File() / "sub");
        } else if (c.after == fs::file_type::not_found) {
            fs::create_symlink("nowhere", File());
        } else {
            folder_.WriteFile("zephyrate/settings.reg", c.content);
        }
        SettingsStore store(File().string());
        EXPECT_EQ(AllValues(store), kDefaults);
        store.SetProxyServer("p");
        EXPECT_EQ(store.ProxyServer(), c.after == fs::file_type::regular ? "p" : "");
        EXPECT_EQ(fs::status(File()).type(), c.after);
    }
}

// Root ignores permission bits, so a test running as root acts as the user "nobody" (65534)
// in a folder given to it, and becomes root again when done.
class AsOrdinaryUser {
  public:
    explicit AsOrdinaryUser(const fs::path& folder) : root_(::geteuid() == 0) {
        if (root_) {
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                EXPECT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
            }
            EXPECT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
            EXPECT_EQ(::setegid(kNobody), 0);
            EXPECT_EQ(::seteuid(kNobody), 0);
        }
    }
    ~AsOrdinaryUser() {
        if (root_) {
            EXPECT_EQ(::seteuid(0), 0);
            EXPECT_EQ(::setegid(0), 0);
        }
    }

  private:
    static constexpr uid_t kNobody = 65534;
    bool root_;
};

TEST_F(SettingsStoreTest, SettingsTheUserMayNotWriteReadAsDefaultsAndStayUnchanged) {
    const struct {
        std::string name;
        fs::perms file, folder;
    } cases[] = {{"read-only file", fs::perms(0400), fs::perms(0700)},
                 {"read-only folder", fs::perms(0600), fs::perms(0500)},
                 {"unreadable file", fs::perms(0200), fs::perms(0700)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Store(kAllStored);
        AsOrdinaryUser user(folder_.Path());
        fs::permissions(File(), c.file);
        fs::permissions(File().parent_path(), c.folder);
        const std::string before = StateOf(File());
        SettingsStore store(File().string());
        EXPECT_EQ(AllValues(store), kDefaults);
        store.SetAutoClose(false);
        store.SetUseProxy(3);
        store.SetProxyServer("elsewhere");
        EXPECT_EQ(AllValues(store), kDefaults);
        EXPECT_EQ(StateOf(File()), before);
        fs::permissions(File().parent_path(), fs::perms(0700));
        fs::permissions(File(), fs::perms(0600));
        EXPECT_EQ(AllValues(store), kAllStoredRead);  // the values were there all along
    }
}

// Writer w stores kEach values of its own, numbers and texts in turn.
constexpr int kWriters = 3;
constexpr int kEach = 500;
std::string NameOf(int w, int i) {
    return "W" + std::to_string(w) + "_" + std::to_string(i);
}
void WriteMany(SettingsStore& store, int w) {
    for (int i = 0; i < kEach; ++i) {
        if (i % 2 == 0) {
            store.WriteNumber(NameOf(w, i), w * 100000 + i);
        } else {
            store.WriteText(NameOf(w, i), NameOf(w, i) + " \"\\");
        }
    }
}

TEST_F(SettingsStoreTest, ProcessesAndThreadsWritingAtOnceLoseNothing) {
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(gate[1]);
        char byte;
        (void)!::read(gate[0], &byte, 1);  // starts when the parent closes the gate
        SettingsStore store(File().string());
        WriteMany(store, 0);
        ::_exit(0);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    {
        // This process writes too, from two threads through one store.
        SettingsStore store(File().string());
        std::thread other([&] { WriteMany(store, 1); });
        WriteMany(store, 2);
        other.join();
    }
    int status = -1;
    ASSERT_GT(child, 0);
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    SettingsStore store(File().string());
    int found = 0;
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kEach; ++i) {
            found += i % 2 == 0 ? store.ReadNumber(NameOf(w, i), -1) == w * 100000 + i
                                : store.ReadText(NameOf(w, i), "") == NameOf(w, i) + " \"\\";
        }
    }
    EXPECT_EQ(found, kWriters * kEach);
    EXPECT_EQ(ModeOf(File()), 0600u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(File().parent_path()), {}), 1);
}

}  // namespace
}  // namespace zephyrate
