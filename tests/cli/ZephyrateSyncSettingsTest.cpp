// zephyrate-sync with a settings file that it may not change: the run goes by what the
// file holds or the command line says, the file stays byte for byte, and the error stream
// says what was not kept.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"

namespace zephyrate::test {
namespace {

using ZephyrateSyncSettingsTest = SyncProgramFixture;

// Root ignores permission bits, so a test running as root runs the program as the user
// "nobody" in a place given to it.
Strings AsOrdinaryUser(const Place& place, Strings command) {
    if (geteuid() != 0) {
        return command;
    }
    for (const auto& entry : fs::recursive_directory_iterator(place.folder.Path())) {
        EXPECT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(chown(place.folder.Path().c_str(), 65534, 65534), 0);
    command.insert(command.begin(),
                   {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return command;
}

TEST_F(ZephyrateSyncSettingsTest, SettingsThatCannotBeWrittenStillSteerTheRun) {
    FolderServer server(site_.Path());
    const std::string address = PublishOneFile(server.Port());
    const std::string storedOther =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate]\n\"PrePath\"=\"\\\\Other\"\n";
    struct Case {
        const char* name;
        std::string settings;
        fs::perms mode;
        Strings extra;
        const char* landing;  // the root below which the files land
        std::string told;     // on the error stream
    };
    const Case cases[] = {
        {"stored root, read-only", storedOther, fs::perms::owner_read, {}, "Other", ""},
        {"root given, read-only",
         storedOther,
         fs::perms::owner_read,
         {"--root", "\\Mine"},
         "Mine",
         "PrePath (it is read-only)"},
        {"root given, not a settings file",
         "my notes\n",
         fs::perms::owner_read | fs::perms::owner_write,
         {"--root", "\\Mine"},
         "Mine",
         "PrePath (it is not a settings file)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Place place;
        fs::create_directories(place.Device() / "Mine");
        fs::create_directories(place.Device() / "Other");
        place.folder.WriteFile("settings.reg", c.settings);
        fs::permissions(place.Settings(), c.mode);
        const ChildProcess::Result result = ChildProcess::Run(
            AsOrdinaryUser(place, Command(place, address, c.extra)), environment_);
        EXPECT_EQ(result.code, 0) << result.out << result.err;
        EXPECT_TRUE(fs::exists(place.Device() / c.landing / "News" / "a.txt")) << result.out;
        EXPECT_EQ(TempFolder::ReadFile(place.Settings()), c.settings);
        EXPECT_EQ(Has(result.err, "were not kept"), !c.told.empty()) << result.err;
        EXPECT_TRUE(Has(result.err, c.told)) << result.err;
    }
}

}  // namespace
}  // namespace zephyrate::test
