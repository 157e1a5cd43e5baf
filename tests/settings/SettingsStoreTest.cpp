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
#include <tuple>
#include <vector>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "platform/WideText.h"
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

class SettingsStoreTest : public ::testing::Test {
  protected:
    fs::path File() const { return folder_ / "zephyrate/settings.reg"; }
    TempFolder folder_;
};

// The defaults cover every row of the table. Stored forms read as their value, or the
// default when of another type, and the file keeps its form. Changes to one value of each
// kind outlast the store.
TEST_F(SettingsStoreTest, ValuesReadAsStoredOrTheDefaultAndChangesAreKept) {
    SettingsStore store(File().string());
    EXPECT_EQ(AllValues(store), kDefaults);
    EXPECT_FALSE(fs::exists(File().parent_path()));  // reading creates nothing
    const std::string e127 = Utf16ToUtf8(std::u16string(127, u'\u00e9'));  // 254 bytes
    const std::pair<std::string, std::string> cases[] = {
        // stored lines, then the value as read
        {"\"UseProxy\"=dword:ffffffff", "UseProxy=-1"},
        {"\"Dontask\"=\"0\"", "Dontask=1"},  // another type than the one written
        {"\"ProxyServer\"=\"proxy\"\n\"ProxyPort\"=\"80\"", "ProxyAddress=proxy:80"},
        // Texts of 255 bytes or more read as the default; the limit counts bytes.
        {"\"ProxyServer\"=\"" + std::string(300, 'p') + "\"", "ProxyServer="},
        {"\"ProxyPort\"=\"" + e127 + "\"", "ProxyPort=" + e127},
        {"\"ProxyPort\"=\"x" + e127 + "\"", "ProxyPort="},
    };
    for (const auto& [stored, read] : cases) {
        const std::string content = std::string(kHead) + stored + "\n";
        folder_.WriteFile("zephyrate/settings.reg", content);
        EXPECT_NE((AllValues(store) + " ").find(" " + read + " "), std::string::npos)
            << stored << AllValues(store);
        EXPECT_EQ(TempFolder::ReadFile(File()), content);
    }
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
        const auto bytes = [&] {
            return fs::is_directory(path) ? "a folder" : TempFolder::ReadFile(path);
        };
        const std::string before = bytes();
        SettingsStore store(path.string());
        EXPECT_EQ(store.UseProxy(), c.useProxy);
        store.SetPrePath("\\Old");
        store.SetPrePath("\\Mine");  // held again, and listed once
        EXPECT_EQ(store.PrePath(), "\\Mine");
        const std::vector<SettingsStore::NotKeptValue> notKept = store.NotKept();
        ASSERT_EQ(notKept.size(), 1u);
        EXPECT_EQ(notKept[0].name + " (" + notKept[0].reason + ")",
                  "PrePath (" + std::string(c.reason) + ")");
        EXPECT_EQ(bytes(), before);
        fs::permissions(path.parent_path(), fs::perms(0700));
        fs::remove_all(path);  // a file it takes: the stored value leaves the list
        store.SetPrePath("\\Kept");
        EXPECT_TRUE(store.NotKept().empty());
    }
}

// Two processes writing at once, each its own names: the file's lock must lose none of
// them, and leave no temporary file behind.
TEST_F(SettingsStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 500;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const int first = child == 0 ? 0 : kEach;
    {
        SettingsStore store(File().string());
        for (int n = first; n < first + kEach; ++n) {
            store.WriteNumber(std::to_string(n), n);
        }
    }
    if (child == 0) {
        ::_exit(0);
    }
    EXPECT_EQ(::waitpid(child, nullptr, 0), child);
    SettingsStore store(File().string());
    int found = 0;
    for (int n = 0; n < 2 * kEach; ++n) {
        found += store.ReadNumber(std::to_string(n), -1) == n;
    }
    EXPECT_EQ(found, 2 * kEach);
    EXPECT_EQ(std::distance(fs::directory_iterator(File().parent_path()), {}), 1);
}

// The proxy dialog's buttons: values no dialog writes show as the system's settings, and
// no button selected keeps the stored value.
TEST(ProxyChoiceTest, MapsStoredValuesAndChoicesBothWays) {
    for (const auto& [useProxy, choice] :
         {std::pair{1, kProxyChoiceDirect}, {0, kProxyChoiceSystem}, {3, kProxyChoiceManual}}) {
        EXPECT_EQ(ProxyChoiceOf(useProxy), choice);
        EXPECT_EQ(UseProxyOf(choice, 2), useProxy);
    }
    EXPECT_EQ(ProxyChoiceOf(2), kProxyChoiceSystem);
    EXPECT_EQ(UseProxyOf(-1, 2), 2);
    // Server, port and box for a manual proxy only; the login only with the box as well.
    for (const auto& [choice, auth, server, login] : {std::tuple{-1, true, false, false},
                                                      {0, true, false, false},
                                                      {1, true, false, false},
                                                      {2, false, true, false},
                                                      {2, true, true, true}}) {
        EXPECT_EQ(ProxyControlsFor(choice, auth).server, server) << choice << auth;
        EXPECT_EQ(ProxyControlsFor(choice, auth).login, login) << choice << auth;
    }
}

// A direct connection keeps the manual proxy's texts; no choice keeps the stored value;
// the values are stored in the dialog's order.
TEST_F(SettingsStoreTest, TheProxyFormKeepsWhatWasTyped) {
    SettingsStore settings(File().string());
    StoreProxyForm(settings, {kProxyChoiceManual, "s", "p", true, "u", "w"});
    const std::string file = TempFolder::ReadFile(File());
    std::size_t at = 0;
    for (const char* name :
         {"UseProxy", "ProxyServer", "ProxyPort", "ProxyAuth", "ProxyUsername", "ProxyPassword"}) {
        EXPECT_GT(file.find(name), at) << name;
        at = file.find(name);
    }
    settings.SetUseProxy(2);
    EXPECT_EQ(ReadProxyForm(settings).choice, kProxyChoiceSystem);
    StoreProxyForm(settings, {-1, "proxy", "80", true, "u", "p"});
    EXPECT_EQ(settings.UseProxy(), 2);
    StoreProxyForm(settings, {kProxyChoiceDirect, "proxy", "8 0x", false, "u", "p"});
    const ProxyForm read = ReadProxyForm(settings);
    EXPECT_EQ(std::tuple(settings.UseProxy(), read.server, read.port, read.authorisation,
                         read.userName, read.password),
              std::tuple(1, "proxy", "8 0x", false, "u", "p"));
}

// The proxy answers 407 without its login, so the status tells whether a request went
// through it with the login; ProxyAuth (off) does not matter, and an emptied login goes off.
TEST_F(SettingsStoreTest, TheStoredProxyAndItsLoginReachTheSession) {
    test::TestSite site;  // outlives the session's idle connections
    site.Start();
    test::TinyProxy proxy("pxuser", "pxpass");
    SettingsStore settings(File().string());
    settings.SetUseProxy(3);
    settings.SetProxyServer(proxy.Address());  // with its port, and ProxyPort empty
    InternetSession session;
    for (const auto& [user, password, status] :
         {std::tuple{"pxuser", "pxpass", 200u}, std::tuple{"", "", 407u}}) {
        settings.SetProxyUsername(user);
        settings.SetProxyPassword(password);
        ApplyProxy(settings, session);
        std::uint32_t answer = 0;
        session.OpenURL(site.Url("/status/200"))->QueryInfoStatusCode(answer);
        EXPECT_EQ(answer, status) << user;
    }
    // A proxy the session cannot use, as typed, fails the request and nothing else.
    StoreProxyForm(settings, {kProxyChoiceManual, "pro xy", "8 0x", false, "", ""});
    ApplyProxy(settings, session);
    EXPECT_THROW(session.OpenURL(site.Url("/status/200")), InternetError);
}

}  // namespace
}  // namespace zephyrate
