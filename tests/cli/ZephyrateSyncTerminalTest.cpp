// zephyrate-sync in a terminal: the built program on a pseudo-terminal of its own, as a
// user runs it, against real servers and folders on 127.0.0.1. Questions are asked and
// answered at the terminal, and the terminal is left as it was found.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "settings/SettingsStore.h"
#include "tests/cli/GuardedSite.h"
#include "tests/cli/SlowFileSite.h"
#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"
#include "tests/support/TerminalProcess.h"

namespace zephyrate::test {
namespace {

using namespace std::chrono_literals;
using ZephyrateSyncTerminalTest = SyncProgramFixture;

TEST_F(ZephyrateSyncTerminalTest, AsksForTheLoginWithoutShowingThePassword) {
    GuardedSite site;
    {
        TerminalProcess terminal(Command(place_, site.Address()), environment_);
        ASSERT_TRUE(terminal.WaitFor("Username: ", 20s)) << terminal.Screen();
        terminal.Type("anna\n");
        ASSERT_TRUE(terminal.WaitFor("Password: ", 20s)) << terminal.Screen();
        EXPECT_FALSE(terminal.Echoes());
        terminal.Type("secret\n");
        EXPECT_EQ(terminal.Wait(30s), 0) << terminal.Screen();
        EXPECT_TRUE(terminal.Echoes());
        EXPECT_TRUE(Has(terminal.Screen(), "anna\r\n")) << terminal.Screen();
        EXPECT_FALSE(Has(terminal.Screen(), "secret")) << terminal.Screen();
        EXPECT_TRUE(terminal.Screen().ends_with("Finished\r\n")) << terminal.Screen();
    }
    SettingsStore stored(place_.Settings());
    EXPECT_EQ(stored.UserUsername() + "/" + stored.UserPassword(), "anna/secret");
    EXPECT_EQ(site.WrongOffers(), 0);

    // Ctrl-C at the hidden question ends the run and gives the echo back.
    Place other;
    TerminalProcess interrupted(Command(other, site.Address()), environment_);
    ASSERT_TRUE(interrupted.WaitFor("Username: ", 20s)) << interrupted.Screen();
    interrupted.Type("anna\n");
    ASSERT_TRUE(interrupted.WaitFor("Password: ", 20s)) << interrupted.Screen();
    interrupted.Type("\x03");
    EXPECT_EQ(interrupted.Wait(10s), 130) << interrupted.Screen();
    EXPECT_TRUE(interrupted.Echoes());
}

TEST_F(ZephyrateSyncTerminalTest, AsksForAnotherTryAtTheDeviceAndForTheRoot) {
    FolderServer server(site_.Path());
    const std::string address = PublishOneFile(server.Port());
    SettingsStore(place_.Settings()).SetDontask(false);  // ask for the root every run
    fs::remove(place_.Device());                         // not plugged in yet

    TerminalProcess terminal(Command(place_, address), environment_);
    ASSERT_TRUE(terminal.WaitFor("[R]etry or [C]ancel? ", 20s)) << terminal.Screen();
    fs::create_directories(place_.Device() / "Mine");  // plugged in now
    terminal.Type("r\n");
    ASSERT_TRUE(terminal.WaitFor("Root path on the device [", 20s)) << terminal.Screen();
    terminal.Type("\\Mine\n");
    ASSERT_TRUE(terminal.WaitFor("Enable automatic path selection? [y/N] ", 5s))
        << terminal.Screen();
    terminal.Type("\n");  // keeps it off
    EXPECT_EQ(terminal.Wait(30s), 0) << terminal.Screen();
    EXPECT_EQ(TempFolder::ReadFile(place_.Device() / "Mine" / "News" / "a.txt"), "alpha");
    SettingsStore stored(place_.Settings());
    EXPECT_EQ(stored.PrePath(), "\\Mine");
    EXPECT_FALSE(stored.Dontask());
}

TEST_F(ZephyrateSyncTerminalTest, ShowsADownloadAsABarRedrawnInPlace) {
    constexpr std::size_t kSize = 6 << 20;
    SlowFileSite site(kSize, 10ms);  // about 6 MB/s: a second of download

    const auto start = std::chrono::steady_clock::now();
    TerminalProcess terminal(Command(place_, site.Address()), environment_);
    ASSERT_EQ(terminal.Wait(60s), 0) << terminal.Screen();
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count() /
                        100;
    const std::string& screen = terminal.Screen();
    // Each drawing starts over at the line's start with the name, counts, bar and speed.
    const int drawings = CountOf(screen, "\rbig.bin  ");
    EXPECT_GE(drawings, 3) << screen;
    EXPECT_LE(drawings, tenths + 2) << "drawings in " << tenths << " tenths of a second";
    EXPECT_TRUE(Has(screen, "/6291456  [")) << screen;
    EXPECT_TRUE(Has(screen, "%  ")) << screen;
    // The bar is wiped before the next line, which then starts on a clean line.
    EXPECT_TRUE(Has(screen, "\r\x1b[KSynchronisation complete\r\n")) << screen;
    EXPECT_TRUE(Has(screen, "Added: \\Zephyrate\\News\\big.bin.\r\n")) << screen;
}

}  // namespace
}  // namespace zephyrate::test
