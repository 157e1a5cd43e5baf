// The settings store on its own: defaults, the table's read rules, a restart, and a file
// it may not change (how the file itself is parsed, replaced and located is the registry
// file's test); and the stored proxy choice, applied to a real session and tinyproxy.
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/InternetSession.h"
#include "settings/ProxySettings.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using namespace std::string_literals;

constexpr std::string_view kHead =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n";
constexpr std::string_view kDefaults =
    " PrePath= Dontask=1 AutoClose=1 Minimize=0 UseProxy=0 ProxyServer= ProxyPort= ProxyAuth=0 "
    "ProxyUsername= ProxyPassword= UserUsername= UserPassword= DeviceFolder= ProxyAddress=";
// Quotes, backslashes (doubled at the front, one at the end) and UTF-8.
constexpr std::string_view kPassword = R"(\\srv\"hi" [k] ;a"="b dword:1 )"
                                       "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\\";

// Every reader once, in one line that a failed comparison prints whole.
std::string AllValues(SettingsStore& s) {
    std::ostringstream out;
#define PRINT_SETTING(name, kind, defaultValue, length) out << " " #name "=" << s.name();
    ZEPHYRATE_SETTINGS(PRINT_SETTING)
#undef PRINT_SETTING
    out << " ProxyAddress=" << s.ProxyAddress();
    return out.str();
}

std::string BytesOf(const fs::path& file) {
    return fs::is_regular_file(file) ? TempFolder::ReadFile(file) : "a folder";
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    fs::path File() const { return folder_ / "zephyrate/settings.reg"; }
    TempFolder folder_;
};

TEST_F(SettingsStoreTest, StoredFormsReadAsTheirValueOrTheDefault) {
    const std::string x254(254, 'x');
    const std::pair<std::string, std::string> cases[] = {
        // stored lines, then the value as read
        {"\"UseProxy\"=dword:ffffffff", "UseProxy=-1"},
        {"\"Dontask\"=\"0\"", "Dontask=1"},  // another type than the one written
        {"\"ProxyServer\"=dword:00000001", "ProxyServer="},
        // 254 bytes and the terminating zero fill the buffer; 255 bytes do not fit.
        {"\"ProxyServer\"=\"" + x254 + "\"", "ProxyServer=" + x254},
        {"\"ProxyServer\"=\"" + x254.substr(1) + "\xC3\xA9\"", "ProxyServer="},
        {"\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"80\"", "ProxyAddress=proxy:80"},
    };
    for (const auto& [stored, read] : cases) {
        const std::string content = std::string(kHead) + stored + "\n";
        folder_.WriteFile("zephyrate/settings.reg", content);
        SettingsStore store(File().string());
        EXPECT_NE((AllValues(store) + " ").find(" " + read + " "), std::string::npos)
            << stored.substr(0, 60) << AllValues(store);
        EXPECT_EQ(TempFolder::ReadFile(File()), content);  // the file keeps its form
    }
}

// Changes to one value of each kind of the table; the defaults cover every row.
TEST_F(SettingsStoreTest, DefaultsUntilChangedAndChangesKeptAcrossARestart) {
    SettingsStore store(File().string());
    EXPECT_EQ(AllValues(store), kDefaults);
    EXPECT_FALSE(fs::exists(File().parent_path()));  // reading creates nothing
    store.SetPrePath("Card");
    store.SetDontask(false);
    store.SetUseProxy(3);
    store.SetUserPassword(kPassword);
    EXPECT_TRUE(store.NotKept().empty());
    SettingsStore again(File().string());
    EXPECT_EQ(again.PrePath() + " " + std::to_string(again.Dontask()) + " " +
                  std::to_string(again.UseProxy()) + " " + again.UserPassword(),
              "\\Card 0 3 " + std::string(kPassword));
}

// Root ignores permission bits, so a test running as root acts as the user "nobody" in a
// folder given to it, and becomes root again when done.
struct AsOrdinaryUser {
    explicit AsOrdinaryUser(const fs::path& folder) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        }
        EXPECT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(::seteuid(65534), 0);
    }
    ~AsOrdinaryUser() { EXPECT_EQ(::seteuid(0), 0); }
};

// A file the store may not change stays byte for byte; reads give what it holds (the
// defaults when it cannot be read), and changes hold in the store, listed with the reason,
// until the file takes them.
TEST_F(SettingsStoreTest, ChangesTheFileRefusesHoldForTheRunAndAreListed) {
    for (const char* name : {"read-only.reg", "in-read-only-folder.reg", "unreadable.reg"}) {
        folder_.WriteFile("zephyrate/"s + name, std::string(kHead) + "\"UseProxy\"=dword:1\n");
    }
    fs::create_directories(File().parent_path() / "folder");
    folder_.WriteFile("zephyrate/notes.txt", "my notes\n");
    const struct {
        std::string name;  // in the settings folder
        unsigned mode, folderMode;
        int useProxy;
        std::string_view reason;
    } cases[] = {{"read-only.reg", 0400, 0700, 1, "it is read-only"},
                 {"in-read-only-folder.reg", 0600, 0500, 1, "its folder is read-only"},
                 {"unreadable.reg", 0200, 0700, 0, "it cannot be read (Permission denied)"},
                 {"folder", 0700, 0700, 0, "it is not a file"},
                 {"notes.txt", 0600, 0700, 0, "it is not a settings file"}};
    std::optional<AsOrdinaryUser> user;
    if (::geteuid() == 0) {
        user.emplace(folder_.Path());
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const fs::path path = File().parent_path() / c.name;
        fs::permissions(path, fs::perms(c.mode));
        fs::permissions(path.parent_path(), fs::perms(c.folderMode));
        const std::string before = BytesOf(path);
        SettingsStore store(path.string());
        EXPECT_EQ(store.UseProxy(), c.useProxy);
        store.SetUseProxy(6);
        store.SetPrePath("\\Mine");
        store.SetUseProxy(7);  // listed in the order of first failure
        EXPECT_EQ(std::to_string(store.UseProxy()) + store.PrePath(), "7\\Mine");
        std::string notKept;
        for (const SettingsStore::NotKeptValue& value : store.NotKept()) {
            notKept += value.name + " (" + value.reason + ") ";
        }
        EXPECT_EQ(notKept, "UseProxy (" + std::string(c.reason) + ") PrePath (" +
                               std::string(c.reason) + ") ");
        EXPECT_EQ(BytesOf(path), before);
        fs::permissions(path.parent_path(), fs::perms(0700));
        fs::remove_all(path);  // a file it takes: the stored value leaves the list
        store.SetPrePath("\\Kept");
        EXPECT_EQ(store.NotKept().size(), 1u);
    }
}

// Two processes with two threads each, every writer storing its own names: the file's lock
// and the store's guard must lose none of them, and leave no temporary file behind.
TEST_F(SettingsStoreTest, ProcessesAndThreadsWritingAtOnceLoseNothing) {
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
    EXPECT_EQ(std::distance(fs::directory_iterator(File().parent_path()), {}), 1);
}

TEST(ProxyChoiceTest, MapsStoredValuesAndChoicesBothWays) {
    for (const auto& [useProxy, choice] :
         {std::pair{1, kProxyChoiceDirect}, {0, kProxyChoiceSystem}, {3, kProxyChoiceManual}}) {
        EXPECT_EQ(ProxyChoiceOf(useProxy), choice);
        EXPECT_EQ(UseProxyOf(choice, 2), useProxy);
    }
    EXPECT_EQ(ProxyChoiceOf(2), kProxyChoiceSystem);  // values no dialog writes
    EXPECT_EQ(UseProxyOf(-1, 2), 2);                  // no button selected: the stored one
}

// The proxy answers 407 without its login, so the status tells whether a request went
// through it, and with the login.
TEST(ApplyProxyTest, TheStoredProxyAndItsLoginReachTheSession) {
    test::TestSite site;  // outlives the session's idle connections
    site.Start();
    test::TinyProxy proxy("pxuser", "pxpass");
    TempFolder temp;
    SettingsStore settings((temp / "settings.reg").string());
    settings.SetProxyServer(proxy.Address());  // with its port, and ProxyPort empty
    InternetSession session;
    // The login goes on whatever ProxyAuth says (off), an emptied one goes off, and a
    // direct connection (1) leaves the manual proxy (3) unused.
    const std::tuple<int, const char*, const char*, std::uint32_t> cases[] = {
        {3, "", "", 407}, {3, "pxuser", "pxpass", 200}, {3, "", "", 407}, {1, "", "", 200}};
    for (const auto& [useProxy, user, password, status] : cases) {
        settings.SetUseProxy(useProxy);
        settings.SetProxyUsername(user);
        settings.SetProxyPassword(password);
        ApplyProxy(settings, session);
        std::uint32_t answer = 0;
        session.OpenURL(site.Url("/status/200"))->QueryInfoStatusCode(answer);
        EXPECT_EQ(answer, status) << useProxy << " " << user;
    }
}

}  // namespace
}  // namespace zephyrate
