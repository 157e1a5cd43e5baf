#include "settings/SettingsStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::TempFolder;
using ::testing::HasSubstr;

constexpr std::string_view kHead =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n";

// Every value set away from its default, in the order the writes below leave them. The
// password has quotes, backslashes (doubled at the front, one at the end) and UTF-8.
constexpr std::string_view kAllStored =
    "\"AutoClose\"=dword:00000000\n\"Minimize\"=dword:00000001\n\"UseProxy\"=dword:00000003\n"
    "\"Dontask\"=dword:00000000\n\"ProxyAuth\"=dword:00000001\n\"PrePath\"=\"\\\\Card\"\n"
    "\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"8080\"\n\"ProxyUsername\"=\"pu\"\n"
    "\"ProxyPassword\"=\"pp\"\n\"UserUsername\"=\"uu\"\n"
    R"("UserPassword"="\\\\srv\\\"hi\" [k] ;a\"=\"b dword:1 )"
    "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"
    R"(\\")"
    "\n\"DeviceFolder\"=\"/media/card\"\n";
constexpr std::string_view kPassword = R"(\\srv\"hi" [k] ;a"="b dword:1 )"
                                       "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\\";
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
                std::to_string(info.st_mode) + " " +
                (S_ISREG(info.st_mode) ? TempFolder::ReadFile(file) : "");
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

// Reading never writes: no folder, no file, no key.
TEST_F(SettingsStoreTest, ReadingDefaultsCreatesNothing) {
    for (const char* content : {"", "Windows Registry Editor Version 5.00\n"}) {
        if (*content != '\0') {
            folder_.WriteFile("zephyrate/settings.reg", content);
        }
        const std::string before = StateOf(File());
        SettingsStore store(File().string());
        EXPECT_EQ(AllValues(store), kDefaults);
        EXPECT_EQ(StateOf(File()), before);
        EXPECT_EQ(fs::exists(File().parent_path()), *content != '\0');
    }
}

TEST_F(SettingsStoreTest, StoredFormsReadAsTheirValueOrTheDefault) {
    const std::string x254(254, 'x');
    const std::pair<std::string, std::string> cases[] = {
        // stored lines, then the value as read
        {"\"UseProxy\"=dword:ffffffff", "UseProxy=-1"},
        // Another type than the one written reads as the default.
        {"\"Dontask\"=\"0\"", "Dontask=1"},
        {"\"UseProxy\"=\"3\"", "UseProxy=0"},
        {"\"ProxyServer\"=dword:00000001", "ProxyServer="},
        // Roots gain their leading backslash when read; the file keeps what it has.
        {"\"PrePath\"=\"Storage Card\\\\Zephyrate\"", "PrePath=\\Storage Card\\Zephyrate"},
        {"\"PrePath\"=\"\"", "PrePath="},
        {"\"PrePath\"=\"\\\\My Documents\"", "PrePath=\\My Documents"},
        // A 255-byte buffer holds 254 bytes and the terminating zero; 254 characters of
        // 255 bytes do not fit.
        {"\"ProxyServer\"=\"" + x254 + "\"", "ProxyServer=" + x254},
        {"\"ProxyServer\"=\"" + x254.substr(1) + "\xC3\xA9\"", "ProxyServer="},
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
        EXPECT_EQ(StateOf(File()), before) << stored.substr(0, 60);  // the file keeps its form
    }
}

TEST_F(SettingsStoreTest, SettersWriteExactLinesAndKeepForeignOnesAndThePrivateMode) {
    const std::string keep =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"Keep\"=\"me\"\n; the user's note\n\"Bin\"=hex:01,02,\\\n  03,04\n\n"
        "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n\"Expand\"=hex(2):41,00,00,00\n";
    // Replacing the Minimize line of another form must leave none of its lines behind.
    folder_.WriteFile("zephyrate/settings.reg",
                      keep + "\"AutoClose\"=dword:00000005\n\"Minimize\"=hex:01,\\\n  0c,0d,0e\n");
    SettingsStore store(File().string());
    EXPECT_TRUE(store.AutoClose());
    store.SetAutoClose(true);
    EXPECT_THAT(TempFolder::ReadFile(File()), HasSubstr("\"AutoClose\"=dword:00000001\n"));

    fs::permissions(File(), fs::perms(0644));  // as if the user had opened it up
    store.SetAutoClose(false);
    store.SetMinimize(true);
    store.SetUseProxy(3);
    store.SetDontask(false);
    store.SetProxyAuth(true);
    store.SetPrePath("\\Card");
    store.SetProxyServer("proxy");
    store.SetProxyPort("8080");
    store.SetProxyUsername("pu");
    store.SetProxyPassword("pp");
    store.SetUserUsername("uu");
    store.SetUserPassword(kPassword);
    store.SetDeviceFolder("/media/card");
    EXPECT_EQ(TempFolder::ReadFile(File()), keep + std::string(kAllStored));
    EXPECT_EQ(ModeOf(File()), 0600u);
    SettingsStore again(File().string());
    EXPECT_EQ(AllValues(again),
              "AutoClose=0 Dontask=0 Minimize=1 ProxyAuth=1 UseProxy=3 PrePath=\\Card "
              "ProxyServer=proxy ProxyPort=8080 ProxyUsername=pu ProxyPassword=pp UserUsername=uu "
              "UserPassword="s +
                  std::string(kPassword) + " DeviceFolder=/media/card ProxyAddress=proxy:8080");
}

TEST_F(SettingsStoreTest, DamagedFilesHideNothingElseAndAWriteKeepsWhatWasRead) {
    std::string garbage;
    for (unsigned i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 2654435761u) >> 13);
    }
    const std::string damaged =
        std::string(kHead) + "\"AutoClose\"=dword:00000000\r\n\x01\xff\xfe\0 junk\x80\r\n"s +
        "\"ProxyServer\"=\"half a line\n"
        "\"Bin\"=hex:01,02,\\\n"  // its continuation line was lost
        "\"Minimize\"=dword:00000001\n"
        "[HKEY_CURRENT_USER\\Software\\Kestr\r"
        "\"ProxyPort\"=\"8080\"\n\"Dontask\"=dword:1x\n\"UserUsername\"=\"me\"\n\"UserPass";
    // Garbage, UTF-16 garbage, nothing, and damaged lines.
    const std::pair<std::string, std::string_view> cases[] = {
        {garbage, kDefaults},
        {"\xFF\xFE\x00\xD8["s + garbage, kDefaults},
        {"", kDefaults},
        {damaged,
         "AutoClose=0 Dontask=1 Minimize=1 ProxyAuth=0 UseProxy=0 PrePath= ProxyServer= "
         "ProxyPort=8080 ProxyUsername= ProxyPassword= UserUsername=me UserPassword= "
         "DeviceFolder= ProxyAddress=:8080"}};
    for (const auto& [content, read] : cases) {
        folder_.WriteFile("zephyrate/settings.reg", content);
        SettingsStore store(File().string());
        EXPECT_EQ(AllValues(store), read);
        // A write keeps every value it understood; a file without the header it leaves alone.
        store.WriteNumber("Other", 1);
        EXPECT_EQ(store.ReadNumber("Other", 0), 1);
        EXPECT_EQ(AllValues(store), read);
    }
}

// Root ignores permission bits, so a test running as root acts as the user "nobody" (65534)
// in a folder given to it, and becomes root again when done.
class AsOrdinaryUser {
  public:
    explicit AsOrdinaryUser(const fs::path& folder) {
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
    const bool root_ = ::geteuid() == 0;
};

// Settings the user may not change or that are not ours to change: reads give what the
// file holds (the defaults when it cannot be read), the file stays as it is, and changes
// hold in the store with the reason they were not kept.
TEST_F(SettingsStoreTest, SettingsThatCannotBeWrittenStayAsTheyAreAndChangesHoldInMemory) {
    Store(kAllStored);
    fs::create_directories(File().parent_path() / "folder/sub");
    folder_.WriteFile("zephyrate/notes.txt", "my notes\n");
    SettingsStore writable(File().string());
    const std::string stored = AllValues(writable);
    const struct {
        std::string trace, name;  // name: in the settings folder
        unsigned mode, folderMode;
        std::string_view read, reason;
    } cases[] = {
        {"read-only file", "settings.reg", 0400, 0700, stored, "it is read-only"},
        {"read-only folder", "settings.reg", 0600, 0500, stored, "its folder is read-only"},
        {"unreadable file", "settings.reg", 0200, 0700, kDefaults,
         "it cannot be read (Permission denied)"},
        {"folder", "folder", 0700, 0700, kDefaults, "it is not a file"},
        {"not a settings file", "notes.txt", 0600, 0700, kDefaults, "it is not a settings file"}};
    AsOrdinaryUser user(folder_.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        const fs::path path = File().parent_path() / c.name;
        fs::permissions(path, fs::perms(c.mode));
        fs::permissions(path.parent_path(), fs::perms(c.folderMode));
        const std::string before = StateOf(path);
        SettingsStore store(path.string());
        EXPECT_EQ(AllValues(store), c.read);
        store.SetUseProxy(7);
        store.SetPrePath("\\Mine");
        EXPECT_EQ(store.UseProxy(), 7);
        EXPECT_EQ(store.PrePath(), "\\Mine");
        const std::vector<SettingsStore::NotKeptValue> notKept = store.NotKept();
        ASSERT_EQ(notKept.size(), 2u);
        EXPECT_EQ(notKept[0].name + " " + notKept[1].name, "UseProxy PrePath");
        EXPECT_EQ(notKept[1].reason, c.reason);
        EXPECT_EQ(StateOf(path), before);
        fs::permissions(path.parent_path(), fs::perms(0700));
    }
}

TEST_F(SettingsStoreTest, ProcessesAndThreadsWritingAtOnceLoseNothing) {
    // Two processes with two threads each; writer w stores kEach numbers under its own names.
    constexpr int kEach = 150;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    {
        SettingsStore store(File().string());  // one per process, shared by its threads
        const auto writeMany = [&store](int w) {
            for (int n = w * kEach; n < (w + 1) * kEach; ++n) {
                store.WriteNumber(std::to_string(n), n);
            }
        };
        std::thread other(writeMany, child == 0 ? 0 : 2);
        writeMany(child == 0 ? 1 : 3);
        other.join();
    }
    if (child == 0) {
        ::_exit(0);
    }
    int status = -1;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    SettingsStore store(File().string());
    int found = 0;
    for (int n = 0; n < 4 * kEach; ++n) {
        found += store.ReadNumber(std::to_string(n), -1) == n;
    }
    EXPECT_EQ(found, 4 * kEach);
    EXPECT_EQ(ModeOf(File()), 0600u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(File().parent_path()), {}), 1);
}

}  // namespace
}  // namespace zephyrate
