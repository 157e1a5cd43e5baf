// zephyrate-sync as a script runs it: the built program as a real process, real servers
// and a real proxy on 127.0.0.1, real device, settings and log folders, standard input
// not a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/SettingsStore.h"
#include "tests/cli/GuardedSite.h"
#include "tests/cli/SlowFileSite.h"
#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

using namespace std::chrono_literals;
using ZephyrateSyncTest = SyncProgramFixture;

TEST_F(ZephyrateSyncTest, SyncsThenFindsEverythingCurrentThenDeletesWhatWasWithdrawn) {
    FolderServer server(site_.Path());
    const std::string host = Host(server.Port());
    const std::string url = "Url: http://" + host + "/extra/c.txt\n";
    Publish("index.txt",
            std::string(kIndexHead) +
                "File: a.txt\nFile: docs/b.txt, link:Bee\nFile: tools/t.exe, exe:Tool\n" + url);
    Publish("a.txt", "alpha");
    Publish("docs/b.txt", "beta");
    Publish("tools/t.exe", "tool");
    Publish("extra/c.txt", "gamma");

    const ChildProcess::Result first = Sync(place_, host + "/index.txt");
    ASSERT_EQ(first.code, 0) << first.out << first.err;
    EXPECT_TRUE(first.out.ends_with("\nFinished\n")) << first.out;
    const fs::path news = place_.Device() / "Zephyrate" / "News";
    const fs::path favorite = place_.Device() / "windows" / "favorites" / "News" / "Bee.url";
    const std::vector<fs::path> files = {news / "a.txt", news / "docs" / "b.txt",
                                         news / "tools" / "t.exe", news / "c.txt"};
    const std::vector<std::int64_t> times = Times(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(times[2 * i], kStamp) << files[i];
    }
    EXPECT_EQ(TempFolder::ReadFile(news / "c.txt"), "gamma");
    EXPECT_TRUE(fs::exists(favorite));
    EXPECT_TRUE(fs::exists(place_.Device() / "windows" / "Start Menu" / "Programs" / "Tool.lnk"));
    EXPECT_TRUE(fs::exists(place_.Logs() / (host + ".log")));
    EXPECT_EQ(CountOf(first.out, "Added: "), 4) << first.out;

    const ChildProcess::Result second = Sync(place_, host + "/index.txt", {"--quiet"});
    EXPECT_EQ(second.code, 0) << second.err;
    EXPECT_FALSE(Has(second.out, "Checking file")) << second.out;  // quiet: rows and result
    EXPECT_TRUE(second.out.ends_with("\nFinished\n")) << second.out;
    EXPECT_EQ(CountOf(second.out, "already up to date.\n"), 4) << second.out;
    EXPECT_FALSE(Has(second.out, "Added: "));
    EXPECT_EQ(Times(files), times) << "a current file was written again";

    Publish("index.txt",
            std::string(kIndexHead) + "File: a.txt\nFile: tools/t.exe, exe:Tool\n" + url);
    const ChildProcess::Result third = Sync(place_, host + "/index.txt", {"--force"});
    EXPECT_EQ(third.code, 0) << third.out << third.err;
    EXPECT_EQ(CountOf(third.out, "Added: "), 3) << third.out;  // forced: current files too
    EXPECT_FALSE(fs::exists(news / "docs" / "b.txt"));
    EXPECT_FALSE(fs::exists(favorite));
    EXPECT_TRUE(fs::exists(news / "a.txt"));
}

TEST_F(ZephyrateSyncTest, SettlesTheRootAutomaticallyOrAsGiven) {
    FolderServer server(site_.Path());
    const std::string address = PublishOneFile(server.Port());
    struct Case {
        const char* name;
        const char* file;  // made on the device first; ".storage-card" marks a card
        Strings extra;
        int code;
        std::string root;
    };
    const Case cases[] = {
        {"no card", "Notes/n.txt", {}, 0, "\\Zephyrate"},
        {"a storage card", "Storage Card/.storage-card", {}, 0, "\\Storage Card\\Zephyrate"},
        {"root given", "Mine/m.txt", {"--root", "\\Mine"}, 0, "\\Mine"},
        {"missing root", "Storage Card/.storage-card", {"--root", "\\Gone"}, 3, "\\Gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Place place;
        place.folder.WriteFile("device/" + std::string(c.file), "");
        const ChildProcess::Result result = Sync(place, address, c.extra);
        EXPECT_EQ(result.code, c.code) << result.out << result.err;
        EXPECT_EQ(SettingsStore(place.Settings()).PrePath(), c.root);
        std::string folder = c.root.substr(1);
        std::replace(folder.begin(), folder.end(), '\\', '/');
        EXPECT_EQ(fs::exists(place.Device() / folder / "News" / "a.txt"), c.code == 0);
        if (c.code == 3) {
            EXPECT_TRUE(Has(result.err, "--root")) << result.err;
            EXPECT_FALSE(Has(result.out, "Checking file"));
        }
    }
}

// The command run in a mount namespace of its own, with a tmpfs mounted on the place's
// device folder with the given options; nothing when this system allows no such mount.
std::optional<Strings> OnOwnTmpfs(const Place& place, const std::string& options,
                                  const Strings& command, const Strings& environment) {
    const Strings unshare = {"/usr/bin/unshare",
                             geteuid() == 0 ? "-m" : "-rm",
                             "/bin/sh",
                             "-c",
                             "mount -t tmpfs -o \"$0\" tmpfs \"$1\" && shift && exec \"$@\"",
                             options,
                             place.Device().string()};
    Strings probe = unshare;
    probe.push_back("/bin/true");
    if (ChildProcess::Run(probe, environment).code != 0) {
        return std::nullopt;
    }
    Strings wrapped = unshare;
    wrapped.insert(wrapped.end(), command.begin(), command.end());
    return wrapped;
}

TEST_F(ZephyrateSyncTest, AFullOrReadOnlyDeviceIsExplained) {
    FolderServer server(site_.Path());
    // big.bin fills the device; its rest is deleted, so that small.txt still fits.
    Publish("index.txt", std::string(kIndexHead) + "File: big.bin\nFile: small.txt\n");
    Publish("small.txt", "fits");
    Publish("big.bin", std::string(400 * 1024, 'b'));
    const std::string address = Host(server.Port()) + "/index.txt";

    const auto full = OnOwnTmpfs(place_, "size=128k", Command(place_, address), environment_);
    if (!full) {
        GTEST_SKIP() << "no mount namespace with a tmpfs here";
    }
    const ChildProcess::Result filled = ChildProcess::Run(*full, environment_);
    EXPECT_EQ(filled.code, 1) << filled.out << filled.err;
    EXPECT_TRUE(Has(filled.out, "Added: \\Zephyrate\\News\\small.txt.\n")) << filled.out;
    EXPECT_TRUE(Has(filled.out, "Failed: Error: writing file data to device.\n")) << filled.out;
    EXPECT_TRUE(Has(filled.err, "files could not be written to the device folder " +
                                    place_.Device().string() + ": it is full"))
        << filled.err;

    const auto readOnly =
        OnOwnTmpfs(place_, "ro,size=128k", Command(place_, address), environment_);
    ASSERT_TRUE(readOnly);
    const ChildProcess::Result refused = ChildProcess::Run(*readOnly, environment_);
    EXPECT_EQ(refused.code, 3) << refused.out << refused.err;
    EXPECT_TRUE(Has(refused.out, "Failed to connect to the mobile device.\n")) << refused.out;
    EXPECT_TRUE(Has(refused.err, "no device: " + place_.Device().string() +
                                     " is missing, or is "
                                     "not a folder that this user may read and write"))
        << refused.err;
    EXPECT_FALSE(Has(refused.out, "Checking file"));
    EXPECT_FALSE(Has(refused.err, "Retry")) << "without a terminal nobody is asked";
}

TEST_F(ZephyrateSyncTest, LoginWithoutATerminalIsTriedOnceThenCancelled) {
    struct Case {
        const char* name;
        const char* stored;    // the stored password of anna; nullptr: no stored login
        const char* password;  // the --password-file's first line; nullptr: no options
        int code;
        int wrongOffers;
    };
    const Case cases[] = {
        {"stored login", "secret", nullptr, 0, 0},
        {"login given", nullptr, "secret", 0, 0},
        {"wrong login given", "secret", "wrong", 1, 1},
        {"wrong login stored", "wrong", nullptr, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GuardedSite site;
        Place place;
        if (c.stored != nullptr) {
            SettingsStore settings(place.Settings());
            settings.SetUserUsername("anna");
            settings.SetUserPassword(c.stored);
        }
        Strings extra;
        if (c.password != nullptr) {
            const fs::path file =
                place.folder.WriteFile("password", std::string(c.password) + "\n");
            extra = {"--user", "anna", "--password-file", file.string()};
        }
        const ChildProcess::Result result = Sync(place, site.Address(), extra);
        EXPECT_EQ(result.code, c.code) << result.out << result.err;
        EXPECT_EQ(site.WrongOffers(), c.wrongOffers);
        EXPECT_EQ(fs::exists(place.Device() / "Zephyrate" / "News" / "a.txt"), c.code == 0);
        EXPECT_EQ(Has(result.out, "Connection with server failed"), c.code == 1) << result.out;
        EXPECT_EQ(Has(result.err, "credentials you supplied are invalid"), c.code == 1);
        SettingsStore stored(place.Settings());
        EXPECT_EQ(stored.UserUsername() + "/" + stored.UserPassword(),
                  "anna/" + std::string(c.password ? c.password : c.stored));
    }
}

TEST_F(ZephyrateSyncTest, InterruptStopsTheDownloadKeepsTheOldCopyAndTheNextRunBringsItAgain) {
    constexpr std::size_t kSize = 48 << 20;
    SlowFileSite site(kSize, 5ms);  // about 12 MB/s: a download in progress
    const std::string address = site.Address();
    const fs::path file = place_.Device() / "Zephyrate" / "News" / "big.bin";
    const fs::path temporary = file.parent_path() / ".big.bin.zephyrate-part";
    place_.folder.WriteFile(fs::relative(file, place_.folder.Path()).string(), "the old copy");

    ChildProcess child(Command(place_, address), environment_);
    const auto size = [](const fs::path& path) {
        std::error_code error;
        const std::uintmax_t bytes = fs::file_size(path, error);
        return error ? 0 : bytes;
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (size(temporary) < (1u << 20) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    const auto signalled = std::chrono::steady_clock::now();
    child.Signal(SIGINT);
    const std::optional<int> code = child.Wait(20s);
    const auto elapsed = std::chrono::steady_clock::now() - signalled;
    ASSERT_EQ(code, 130) << child.Out() << child.Err();
    EXPECT_LT(elapsed, 1s);
    EXPECT_EQ(CountOf(child.Out(), "User abort\n"), 2) << child.Out();  // the job and the file
    EXPECT_EQ(TempFolder::ReadFile(file), "the old copy");
    EXPECT_FALSE(fs::exists(temporary));

    site.Hurry();
    const ChildProcess::Result again = Sync(place_, address);
    EXPECT_EQ(again.code, 0) << again.out << again.err;
    EXPECT_EQ(size(file), kSize);
}

TEST_F(ZephyrateSyncTest, ProxySettingDecidesTheRoute) {
    FolderServer server(site_.Path());
    const std::string address = PublishOneFile(server.Port());
    const std::string host = Host(server.Port());
    TinyProxy proxy;
    const std::string proxyPort = proxy.Address().substr(proxy.Address().find(':') + 1);
    // Direct first, so that nothing in the proxy's log can come from the other case. The
    // environment names the proxy too: "direct" must ignore it.
    for (const int useProxy : {1, 3}) {
        SCOPED_TRACE(useProxy);
        Place place;
        {
            SettingsStore settings(place.Settings());
            settings.SetUseProxy(useProxy);
            settings.SetProxyServer("127.0.0.1");
            settings.SetProxyPort(proxyPort);
        }
        const ChildProcess::Result result =
            Sync(place, address, {}, {"http_proxy=http://" + proxy.Address()});
        EXPECT_EQ(result.code, 0) << result.out << result.err;
        EXPECT_EQ(Has(proxy.Log(), "GET http://" + host + "/index.txt"), useProxy == 3);
        EXPECT_EQ(Has(proxy.Log(), "GET http://" + host + "/a.txt"), useProxy == 3);
    }
}

TEST_F(ZephyrateSyncTest, FailuresAreExplainedOnTheErrorStream) {
    FolderServer server(site_.Path());
    const std::string address = PublishOneFile(server.Port());
    const std::string refused = Host(FreeLoopbackPort());
    struct Case {
        const char* name;
        std::string address;
        std::string settings;  // the settings file's bytes; empty: none
        int code;
        std::string explanation;
    };
    const Case cases[] = {
        {"refused connection", refused + "/index.txt", "", 1,
         "could not fetch the index http://" + refused +
             "/index.txt: nothing answers there (Failed to connect"},
        {"unknown host", "no-such-host.invalid/index.txt", "", 1,
         "index.txt: unknown server (Could not resolve host"},
        {"missing index", Host(server.Port()) + "/none.txt", "", 1, "answered HTTP Error 404"},
        {"damaged settings", address, "\x01\x02 not a registry file\n[", 0, "is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Place place;
        if (!c.settings.empty()) {
            place.folder.WriteFile("settings.reg", c.settings);
        }
        const ChildProcess::Result result = Sync(place, c.address);
        EXPECT_EQ(result.code, c.code) << result.out << result.err;
        EXPECT_TRUE(Has(result.err, c.explanation)) << result.err;
        EXPECT_EQ(Has(result.out, "Connection with server failed"), c.code == 1) << result.out;
    }
}

TEST_F(ZephyrateSyncTest, CommandLineMistakesAreUsageErrors) {
    const std::string missing = (place_.folder / "no-such-file").string();
    struct Case {
        Strings arguments;
        int code;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{}, 2, "", "ADDRESS is missing"},
        {{"--bogus", "h/i"}, 2, "", "unknown option --bogus"},
        {{"h/i", "--device"}, 2, "", "--device needs a value"},
        {{"h/i", "j/k"}, 2, "", "only one ADDRESS"},
        {{"http://h/i"}, 2, "", "without \"http://\""},
        {{"--password-file", missing, "h/i"}, 2, "", "cannot read the password file " + missing},
        {{"--version"}, 0, "zephyrate-sync (Zephyrate) ", ""},
        {{"--help"}, 0, "130  interrupted", ""},
    };
    for (const Case& c : cases) {
        Strings command = {ZEPHYRATE_SYNC_PROGRAM, "--settings", place_.Settings(), "--log-dir",
                           place_.Logs().string()};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const ChildProcess::Result result = ChildProcess::Run(command, environment_);
        SCOPED_TRACE(command.back());
        EXPECT_EQ(result.code, c.code);
        EXPECT_TRUE(Has(result.out, c.out)) << result.out;
        EXPECT_TRUE(Has(result.err, c.err)) << result.err;
        EXPECT_EQ(Has(result.err, "Usage: zephyrate-sync"), c.code == 2) << result.err;
    }
    // A log folder that cannot be made (a file stands in its path) is the user's mistake.
    const ChildProcess::Result log = ChildProcess::Run(
        {ZEPHYRATE_SYNC_PROGRAM, "--log-dir", std::string(ZEPHYRATE_SYNC_PROGRAM) + "/logs", "h/i"},
        environment_);
    EXPECT_EQ(log.code, 2);
    EXPECT_TRUE(Has(log.err, "cannot create the log folder " + std::string(ZEPHYRATE_SYNC_PROGRAM) +
                                 "/logs: Not a directory"))
        << log.err;
    const std::string help =
        ChildProcess::Run({ZEPHYRATE_SYNC_PROGRAM, "--help"}, environment_).out;
    for (const char* option :
         {"--device DIR", "--settings FILE", "--root PATH", "--force", "--user NAME",
          "--password-file FILE", "--log-dir DIR", "--quiet", "--version"}) {
        EXPECT_TRUE(Has(help, option)) << option;
    }
    EXPECT_FALSE(fs::exists(place_.Logs()));  // nothing was touched
}

}  // namespace
}  // namespace zephyrate::test
