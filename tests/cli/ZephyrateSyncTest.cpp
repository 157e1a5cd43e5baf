// zephyrate-sync as its users run it: the built program as a real process, from a script
// (standard input not a terminal) or on a pseudo-terminal of its own, against real
// servers and a real proxy on 127.0.0.1 and real device, settings and log folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ranges>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingsStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Strings = std::vector<std::string>;
using Io = ChildProcess::Io;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

// The server's time stamp of every file.
const fs::file_time_type kStamp =
    fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(1700000000s));
constexpr const char* kIndexHead = "Header:Zephyrate v1.0\nCEFolder: \\News\\\n";

// How often the part occurs in the text.
int CountOf(std::string_view text, std::string_view part) {
    return text.empty()
               ? 0
               : static_cast<int>(std::ranges::distance(std::views::split(text, part))) - 1;
}

// A device folder, a settings file and a log folder of one's own.
struct Place {
    TempFolder folder;
    Place() { fs::create_directories(Device()); }
    fs::path Device() const { return folder / "device"; }
    std::string Settings() const { return (folder / "settings.reg").string(); }
    fs::path Logs() const { return folder / "logs"; }
};

// The command line around a place, and a web site whose files carry one time stamp.
class ZephyrateSyncTest : public ::testing::Test {
  protected:
    ZephyrateSyncTest() { site_.ServeFolder(files_.Path()); }

    static Strings Command(const Place& place, const std::string& address, Strings extra = {}) {
        Strings command = {ZEPHYRATE_SYNC_PROGRAM, "--device",       place.Device().string(),
                           "--settings",           place.Settings(), "--log-dir",
                           place.Logs().string()};
        command.insert(command.end(), extra.begin(), extra.end());
        command.push_back(address);
        return command;
    }
    ChildProcess::Result Sync(const Place& place, const std::string& address,
                              Strings extra = {}) const {
        return ChildProcess::Run(Command(place, address, std::move(extra)), environment_);
    }
    // A file of the site, stamped with kStamp.
    void Publish(std::string_view path, std::string_view contents) const {
        fs::last_write_time(files_.WriteFile(path, contents), kStamp);
    }
    // Starts the site, set up as the test wants it; gives the index's address.
    std::string Serve(std::string_view index = "/index.txt") {
        site_.Start();
        return site_.Address(index);
    }
    // The site of most tests: one file.
    std::string ServeOneFile() {
        Publish("index.txt", std::string(kIndexHead) + "File: a.txt\n");
        Publish("a.txt", "alpha");
        return Serve();
    }

    Place place_;
    TempFolder files_;
    TestSite site_;
    Strings environment_ = ChildProcess::CleanEnvironment();
};

// The subscription wants a login: given by options on the first run, stored for the next.
// A name with a blank and terminal commands syncs and reaches the terminal only as text.
// The first run goes through the stored proxy; the second, direct, ignores the one that
// the environment names.
TEST_F(ZephyrateSyncTest, SyncsThenFindsEverythingCurrentThenDeletesWhatWasWithdrawn) {
    const std::string odd = "my \x1b]0;owned\x07.txt";
    for (const std::string& name : Strings{"a.txt", "docs/b.txt", "t.exe", "extra/c.txt", odd}) {
        Publish("members/" + name, "bytes of " + name);
    }
    site_.RequireLogin("anna", "secret", "/members/");
    const std::string address = Serve("/members/index.txt");
    const std::string url = "Url: " + site_.Url("/members/extra/c.txt") + "\n";
    const std::string entries = "File: a.txt\nFile: " + odd + "\nFile: t.exe, exe:Tool\n";
    Publish("members/index.txt", kIndexHead + entries + "File: docs/b.txt, link:Bee\n" + url);
    const fs::path password = place_.folder.WriteFile("password", "secret\n");
    TinyProxy proxy;
    SettingsStore settings(place_.Settings());
    settings.SetUseProxy(3);
    settings.SetProxyServer(proxy.Address());

    const ChildProcess::Result first =
        Sync(place_, address, {"--user", "anna", "--password-file", password.string()});
    ASSERT_EQ(first.code, 0) << first.out << first.err;
    EXPECT_EQ(settings.UserUsername() + "/" + settings.UserPassword(), "anna/secret");
    const fs::path news = place_.Device() / "Zephyrate" / "News";
    const fs::path favorite = place_.Device() / "windows" / "favorites" / "News" / "Bee.url";
    for (const fs::path& file :
         {news / "a.txt", news / odd, news / "t.exe", news / "docs" / "b.txt", news / "c.txt"}) {
        EXPECT_EQ(fs::last_write_time(file), kStamp) << file;
    }
    EXPECT_TRUE(fs::exists(favorite));
    EXPECT_TRUE(fs::exists(place_.Device() / "windows" / "Start Menu" / "Programs" / "Tool.lnk"));
    EXPECT_TRUE(fs::exists(place_.Logs() / (address.substr(0, address.find('/')) + ".log")));
    EXPECT_EQ(CountOf(first.out, "Added: "), 5) << first.out;
    EXPECT_THAT(first.out, HasSubstr("my \\x1b]0;owned\\x07.txt"));
    EXPECT_THAT(first.out, Not(testing::ContainsRegex("[\x1b\x07]")));
    const std::string proxied = proxy.Log();
    EXPECT_THAT(proxied, HasSubstr("GET " + site_.Url("/members/a.txt")));

    settings.SetUseProxy(1);
    environment_.push_back("http_proxy=http://" + proxy.Address());
    const ChildProcess::Result second = Sync(place_, address, {"--quiet"});
    EXPECT_EQ(second.code, 0) << second.err;
    EXPECT_THAT(second.out, Not(HasSubstr("Checking file")));  // quiet: rows and result
    EXPECT_EQ(CountOf(second.out, "already up to date.\n"), 5) << second.out;
    EXPECT_EQ(proxy.Log(), proxied);

    Publish("members/index.txt", kIndexHead + entries + url);
    const ChildProcess::Result third = Sync(place_, address, {"--force"});
    EXPECT_EQ(third.code, 0) << third.out << third.err;
    EXPECT_EQ(CountOf(third.out, "Added: "), 4) << third.out;  // forced: current files too
    EXPECT_FALSE(fs::exists(news / "docs" / "b.txt"));
    EXPECT_FALSE(fs::exists(favorite));
}

// --root is stored as the root and must exist. A settings file that is not one is left as
// it is, and --root holds for the run all the same.
TEST_F(ZephyrateSyncTest, TheRootComesFromTheCommandLine) {
    const std::string address = ServeOneFile();
    fs::create_directories(place_.Device() / "Mine");
    const ChildProcess::Result missing = Sync(place_, address, {"--root", "\\Gone"});
    EXPECT_EQ(missing.code, 3) << missing.out << missing.err;
    EXPECT_THAT(missing.err, HasSubstr("give an existing folder with --root"));
    EXPECT_EQ(SettingsStore(place_.Settings()).PrePath(), "\\Gone");

    place_.folder.WriteFile("settings.reg", "my notes\n");
    const ChildProcess::Result mine = Sync(place_, address, {"--root", "\\Mine"});
    EXPECT_EQ(mine.code, 0) << mine.out << mine.err;
    EXPECT_THAT(mine.err, HasSubstr("is damaged or not a settings file"));
    EXPECT_EQ(TempFolder::ReadFile(place_.Device() / "Mine" / "News" / "a.txt"), "alpha");
}

// A device or settings file that takes no changes. Without a terminal nobody is asked to
// try the device again.
TEST_F(ZephyrateSyncTest, AFullOrReadOnlyDeviceOrSettingsFileIsExplained) {
    // big.bin fills the device; its rest is deleted, so that small.txt still fits.
    Publish("index.txt", std::string(kIndexHead) + "File: big.bin\nFile: small.txt\n");
    Publish("small.txt", "fits");
    Publish("big.bin", std::string(400 * 1024, 'b'));
    const std::string address = Serve();
    const std::string added = "Added: \\Zephyrate\\News\\small.txt.\n";
    const struct {
        const char* mount;
        int code;
        std::string out;
        std::string err;
    } cases[] = {
        {"-t tmpfs -o size=128k tmpfs \"$2\"", 1, added, "/device: it is full"},
        {"-t tmpfs -o ro tmpfs \"$2\"", 3, "Failed to connect to the mobile device.\n",
         "/device is missing, or is not a folder that this user may read and write"},
        {"--bind -o ro \"$4\" \"$4\"", 0, added,
         "/settings.reg and held for this run only: PrePath (it is read-only)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mount);
        Place place;
        place.folder.WriteFile("settings.reg", "Windows Registry Editor Version 5.00\n");
        // The run in a mount namespace of its own after "mount", in which $2 is the device
        // folder and $4 the settings file.
        Strings command = Command(place, address);
        const std::string script = "mount "s + c.mount + " && exec \"$0\" \"$@\"";
        command.insert(command.begin(), {"/usr/bin/unshare", geteuid() == 0 ? "-m" : "-rm",
                                         "/bin/sh", "-c", script});
        const ChildProcess::Result result = ChildProcess::Run(command, environment_);
        if (result.err.starts_with("unshare: ") || result.err.starts_with("mount: ")) {
            GTEST_SKIP() << "no mount namespace here: " << result.err;
        }
        EXPECT_EQ(result.code, c.code) << result.out << result.err;
        EXPECT_THAT(result.out, HasSubstr(c.out));
        EXPECT_THAT(result.err, HasSubstr(c.err));
        EXPECT_THAT(result.err, Not(HasSubstr("Retry")));
    }
}

// Why a run failed, in the transport's words where it has any. Without a terminal a wrong
// login is not asked for again. A download that breaks off ends its job, which only a raw
// server can show: it announces more than it sends.
TEST_F(ZephyrateSyncTest, FailuresAreExplainedOnTheErrorStream) {
    RawHttpServer broken([](RawHttpServer::Connection& connection) {
        const bool index = connection.ReadRequest().starts_with("GET /index.txt");
        const std::string body = index ? kIndexHead + std::string("File: a.txt\n") : "cut";
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " +
                        std::to_string(index ? body.size() : 100000) + "\r\n\r\n" + body);
    });
    const std::string refused = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    site_.Server().Get("/dir/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("a listing", "text/plain");
    });
    site_.RequireLogin("anna", "secret", "/members/");
    const std::string host = Serve("");
    Publish("dir.txt", std::string(kIndexHead) + "Url: " + site_.Url("/dir/") + "\n");
    const fs::path wrong = place_.folder.WriteFile("password", "wrong\n");
    const struct {
        std::string address;
        std::string explanation;
        Strings extra = {};
    } cases[] = {
        {refused + "/index.txt", "could not fetch the index http://" + refused +
                                     "/index.txt: nothing answers there (Failed to connect"},
        {"no-such-host.invalid/index.txt", "index.txt: unknown server (Could not resolve host"},
        {host + "/status/404", "http://" + host + "/status/404 answered HTTP Error 404"},
        {host + "/dir.txt", "an entry of the index names no file"},
        {broken.Url("/index.txt").substr(7), "Zephyrate: transfer closed"},
        {host + "/members/index.txt",
         "The credentials you supplied are invalid. There is no terminal to ask",
         {"--user", "anna", "--password-file", wrong.string()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const ChildProcess::Result result = Sync(place_, c.address, c.extra);
        EXPECT_EQ(result.code, 1) << result.out << result.err;
        EXPECT_THAT(result.err, HasSubstr(c.explanation));
        EXPECT_THAT(result.out, EndsWith("\nThere were error(s). Check details for more info.\n"));
    }
}

// Command lines that sync nothing: mistakes are usage errors that touch nothing; the index
// checker prints what an index lists, or why it cannot.
TEST_F(ZephyrateSyncTest, CommandLinesThatSyncNothing) {
    Publish("good.txt", std::string(kIndexHead) + "Splash:Hello\nFile: a.txt, link:Front\n" +
                            "File: t.exe, exe:Tool\nUrl: http://x.test/b.zip\n");
    Publish("bad.txt", "Header:Other v2\n");
    const std::string good = Serve("/good.txt");
    const std::string missing = (place_.folder / "no-such-file").string();
    const std::string notAFolder = std::string(ZEPHYRATE_SYNC_PROGRAM) + "/logs";
    const auto sync = [this](Strings arguments) {
        arguments.insert(arguments.begin(), {ZEPHYRATE_SYNC_PROGRAM, "--settings",
                                             place_.Settings(), "--log-dir", place_.Logs()});
        return arguments;
    };
    const std::string index = ZEPHYRATE_INDEX_PROGRAM;
    const std::string bad = site_.Address("/bad.txt");
    const std::string refused = "127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/i";
    const struct {
        Strings command;
        int code;
        std::string text;  // on the error stream for 2, else on the output
    } cases[] = {
        {sync({}), 2, "ADDRESS is missing\nUsage: zephyrate-sync [OPTIONS] ADDRESS\n"},
        {sync({"--bogus", "h/i"}), 2, "unknown option --bogus"},
        {sync({"h/i", "--device"}), 2, "--device needs a value"},
        {sync({"h/i", "j/k"}), 2, "only one ADDRESS"},
        {sync({"http://h/i"}), 2, "without \"http://\""},
        {sync({"--password-file", missing, "h/i"}), 2, "cannot read the password file " + missing},
        {sync({"--log-dir", notAFolder, "h/i"}), 2, "cannot create the log folder " + notAFolder},
        {sync({"--help"}), 0, "130  interrupted"},
        {{index, good},
         0,
         "Splash:      Hello\nEntry:       a.txt\n  favorite:  Front.url\n"
         "Entry:       t.exe\n  shortcut:  Tool.lnk\n"},
        {{index, bad}, 1, "Invalid configuration file at server (header \"Other"},
        {{index, site_.Address("/none.txt")}, 1, "HTTP Error 404"},
        {{index, refused}, 1, "Connection with server"},
        {{index}, 2, "Usage: zephyrate-index ADDRESS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.back());
        const ChildProcess::Result result = ChildProcess::Run(c.command, environment_);
        EXPECT_EQ(result.code, c.code);
        EXPECT_THAT(c.code == 2 ? result.err : result.out, HasSubstr(c.text));
    }
    EXPECT_FALSE(fs::exists(place_.Logs()));  // nothing was touched
}

// The questions of a run, answered at the terminal: try the device again, the root, the
// login (its password not shown, and stored).
TEST_F(ZephyrateSyncTest, OnATerminalAsksForTheDeviceTheRootAndTheLogin) {
    site_.RequireLogin("anna", "secret");
    const std::string address = ServeOneFile();
    SettingsStore stored(place_.Settings());
    stored.SetDontask(false);     // ask for the root every run
    fs::remove(place_.Device());  // not plugged in yet
    ChildProcess terminal(Command(place_, address), environment_, Io::Terminal);
    ASSERT_TRUE(terminal.WaitFor("[R]etry or [C]ancel? ", 20s)) << terminal.Out();
    fs::create_directories(place_.Device() / "Mine");  // plugged in now
    terminal.Type("r\n");
    ASSERT_TRUE(terminal.WaitFor("Root path on the device [", 20s)) << terminal.Out();
    terminal.Type("\\Mine\n");
    ASSERT_TRUE(terminal.WaitFor("Enable automatic path selection? [y/N] ", 5s)) << terminal.Out();
    terminal.Type("\n");  // keeps it off
    ASSERT_TRUE(terminal.WaitFor("Username: ", 20s)) << terminal.Out();
    terminal.Type("anna\n");
    ASSERT_TRUE(terminal.WaitFor("Password: ", 20s)) << terminal.Out();
    terminal.Type("secret\n");
    EXPECT_EQ(terminal.Wait(30s), 0) << terminal.Out();
    EXPECT_THAT(terminal.Out(),
                AllOf(HasSubstr("anna\r\n"), Not(HasSubstr("secret")), EndsWith("Finished\r\n")));
    terminal.Type("shown\n");  // the terminal echoes again
    EXPECT_TRUE(terminal.WaitFor("shown", 5s)) << terminal.Out();
    EXPECT_EQ(TempFolder::ReadFile(place_.Device() / "Mine" / "News" / "a.txt"), "alpha");
    EXPECT_EQ(stored.PrePath() + " " + stored.UserUsername() + "/" + stored.UserPassword(),
              "\\Mine anna/secret");
    EXPECT_FALSE(stored.Dontask());
    EXPECT_EQ(site_.RefusedLogins(), 1u);  // the empty login, before the question

    // Ctrl-C at the hidden question ends the run and gives the echo back.
    Place other;
    ChildProcess interrupted(Command(other, address), environment_, Io::Terminal);
    interrupted.Type("anna\n");  // typed ahead: the user question takes it
    ASSERT_TRUE(interrupted.WaitFor("Password: ", 20s)) << interrupted.Out();
    interrupted.Type("\x03");
    EXPECT_EQ(interrupted.Wait(10s), 130) << interrupted.Out();
    interrupted.Type("shown\n");
    EXPECT_TRUE(interrupted.WaitFor("shown", 5s)) << interrupted.Out();
}

// A stop signal during a download leaves the old copy.
TEST_F(ZephyrateSyncTest, OnATerminalDrawsTheDownloadAsABarUntilAnInterrupt) {
    constexpr std::size_t kSize = 48 << 20;
    Publish("index.txt", std::string(kIndexHead) + "File: big.bin\n");
    site_.ServeSlowFile("/big.bin", kSize, 5ms);  // about 12 MB/s: a download in progress
    const std::string address = Serve();
    const fs::path file = place_.folder.WriteFile("device/Zephyrate/News/big.bin", "old copy");

    ChildProcess terminal(Command(place_, address), environment_, Io::Terminal);
    // Each drawing starts over at the line's start with the name, counts, bar and speed.
    for (int drawing = 0; drawing < 3; ++drawing) {
        ASSERT_TRUE(terminal.WaitFor("\rbig.bin  ", 20s)) << terminal.Out();
    }
    terminal.Signal(SIGINT);
    ASSERT_EQ(terminal.Wait(20s), 130) << terminal.Out();
    const std::string screen = terminal.Out();
    EXPECT_THAT(screen, HasSubstr("/50331648  ["));
    // The bar is wiped before the next line, which then starts on a clean line.
    EXPECT_THAT(screen, HasSubstr("\r\x1b[KThere were error(s)"));
    EXPECT_EQ(CountOf(screen, "User abort\r\n"), 2) << screen;  // the job and the file
    EXPECT_EQ(TempFolder::ReadFile(file), "old copy");
}

}  // namespace
}  // namespace zephyrate::test
