// Settling the root folder against a real device folder: storage cards are folders holding
// a ".storage-card" file, and the device lists its top folder sorted by name in byte order,
// so the names of each case fix the order in which the automatic choice meets the cards.
#include "device/DestinationRoot.h"
#include "device/DeviceContext.h"
#include "engine/SyncRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "device/DeviceConnection.h"
#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "settings/SettingsStore.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const std::string kInvalid = "The specified path is invalid please select another path";

class DestinationRootTest : public ::testing::Test {
  protected:
    DestinationRootTest()
        : device_((temp_ / "device").string(), false),
          settings_((temp_ / "settings.reg").string()),
          console_(surface_, session_, device_, settings_) {
        fs::create_directories(temp_ / "device");
    }
    void SetUp() override { ASSERT_EQ(ConnectDevice(context_, 2000), 0); }

    void Card(const std::string& name) { temp_.WriteFile("device/" + name + "/.storage-card", ""); }
    void Folder(const std::string& name) { fs::create_directories(temp_ / "device" / name); }
    // What the run does: the question unless automatic selection spares it, then the test.
    bool RunRoot() {
        return AskRoot(context_, "Enter the root directory", false) && SettleRoot(context_);
    }
    Texts Questions() const { return surface_.EventsOf("destination"); }

    TempFolder temp_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
    Console console_;
    DeviceContext context_ = DeviceContextOf(console_);
};

TEST_F(DestinationRootTest, TheFirstRunChoosesACardWithoutAsking) {
    struct Case {
        const char* name;
        Texts cards;
        Texts folders;  // plain folders: never a card, whatever their name
        std::string root;
    };
    const Case cases[] = {
        {"one card", {"Storage Card"}, {}, "\\Storage Card\\Zephyrate"},
        {"no card", {}, {"Storage Card", "SD Card"}, "\\Zephyrate"},
        {"first known", {"CF Card", "SD Card", "Storage Card2"}, {}, "\\SD Card\\Zephyrate"},
        // Listed SD Card before Storage Card: the listing decides, not the order of the names.
        {"listing order", {"SD Card", "Storage Card"}, {}, "\\SD Card\\Zephyrate"},
        {"only unknown names", {"CF Card", "USB Disk"}, {"Zz"}, "\\USB Disk\\Zephyrate"},
        {"lower case is unknown", {"storage card", "usb disk"}, {}, "\\usb disk\\Zephyrate"},
        {"lower case last", {"CF Card", "storage card"}, {}, "\\storage card\\Zephyrate"},
        {"a name beyond ASCII", {"M\xC3\xA9moire"}, {"Data"}, "\\M\xC3\xA9moire\\Zephyrate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const fs::directory_entry& entry : fs::directory_iterator(temp_ / "device")) {
            fs::remove_all(entry.path());  // the folder itself stays: the link holds it open
        }
        fs::remove(settings_.Path());
        surface_.Clear();
        for (const std::string& card : c.cards) {
            Card(card);
        }
        for (const std::string& folder : c.folders) {
            Folder(folder);
        }
        EXPECT_TRUE(RunRoot());
        EXPECT_EQ(settings_.PrePath(), c.root);
        EXPECT_TRUE(surface_.Events().empty());
        EXPECT_FALSE(fs::exists(temp_ / "device" / c.root.substr(1)))
            << "the choice creates nothing";
    }
}

TEST_F(DestinationRootTest, AMissingRootIsReplacedSilentlyAndAFailedListingFallsBackToTheTop) {
    Card("SDMMC Disk");
    settings_.SetPrePath("\\Gone");
    EXPECT_TRUE(RunRoot());
    EXPECT_EQ(settings_.PrePath(), "\\SDMMC Disk\\Zephyrate");
    EXPECT_TRUE(Questions().empty());

    DisconnectDevice(device_);  // listing the top folder now fails
    ChooseRootAutomatically(context_);
    EXPECT_EQ(settings_.PrePath(), "\\Zephyrate");
}

TEST_F(DestinationRootTest, WithoutAutomaticSelectionEveryRunAsksAndTestsTheAnswer) {
    Folder("Data");
    temp_.WriteFile("device/notes.txt", "a file");
    settings_.SetDontask(false);
    settings_.SetPrePath("\\Data");
    surface_.QueueDestination("\\Data", false);
    surface_.QueueDestination("\\notes.txt", false);  // a file is accepted as a root
    EXPECT_TRUE(RunRoot());
    EXPECT_TRUE(RunRoot());
    EXPECT_EQ(Questions(),
              (Texts{"Enter the root directory|\\Data|0", "Enter the root directory|\\Data|0"}));
    EXPECT_EQ(settings_.PrePath(), "\\notes.txt");

    EXPECT_FALSE(RunRoot());  // Cancel ends the run's root and stores nothing
    EXPECT_EQ(settings_.PrePath(), "\\notes.txt");
    EXPECT_FALSE(settings_.Dontask());
}

TEST_F(DestinationRootTest, AMissingRootIsAskedForUntilItExistsAutomaticIsTickedOrCancel) {
    struct Answer {
        std::string path;
        bool automatic;
    };
    struct Case {
        const char* name;
        std::vector<Answer> answers;  // then Cancel
        bool settled;
        std::string root;
        Texts questions;  // the pre-filled path and box of each question
    };
    const Case cases[] = {
        {"exists", {{"\\No", false}, {"data", false}}, true, "\\data", {"\\Missing|0", "\\No|0"}},
        {"automatic", {{"\\Nope", true}}, true, "\\Storage Card\\Zephyrate", {"\\Missing|0"}},
        {"cancel", {{"\\Nope", false}}, false, "\\Nope", {"\\Missing|0", "\\Nope|0"}},
        {"cancel first", {}, false, "\\Missing", {"\\Missing|0"}},
    };
    Folder("Data");
    Card("Storage Card");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        surface_.Clear();
        settings_.SetDontask(false);
        settings_.SetPrePath("\\Missing");
        for (const Answer& answer : c.answers) {
            surface_.QueueDestination(answer.path, answer.automatic);
        }
        EXPECT_EQ(SettleRoot(context_), c.settled);
        EXPECT_EQ(settings_.PrePath(), c.root);
        Texts expected;
        for (const std::string& question : c.questions) {
            expected.push_back(kInvalid + "|" + question);
        }
        EXPECT_EQ(Questions(), expected);
    }
}

TEST_F(DestinationRootTest, ARootGivenInAdvanceIsAskedForEvenWithAutomaticSelection) {
    Card("Storage Card");
    settings_.SetPrePath("\\Typo");
    EXPECT_FALSE(SettleRoot(context_, false));
    EXPECT_EQ(Questions(), Texts{kInvalid + "|\\Typo|1"});
    EXPECT_EQ(settings_.PrePath(), "\\Typo");

    // Confirmed with the box still ticked: the user now asks for the automatic choice.
    surface_.QueueDestination("\\Typo2", true);
    EXPECT_TRUE(SettleRoot(context_, false));
    EXPECT_EQ(settings_.PrePath(), "\\Storage Card\\Zephyrate");

    Folder("Given");
    settings_.SetPrePath("\\Given");
    surface_.Clear();
    EXPECT_TRUE(SettleRoot(context_, false));
    EXPECT_TRUE(Questions().empty());
}

TEST_F(DestinationRootTest, SetDevicePathAsksWithForceStoresAsTypedAndClosesTheLink) {
    surface_.QueueDestination("Not there yet\\", false);
    OnSetDevicePath(context_);
    EXPECT_EQ(Questions(), Texts{"Enter an existing path on the device.||1"});
    // Stored unchanged (the reader adds the leading '\\') and not tested: the next run tests it.
    EXPECT_EQ(settings_.ReadText("PrePath", "?"), "Not there yet\\");
    EXPECT_FALSE(settings_.Dontask());
    EXPECT_NE(device_.CeRapiGetError(), S_OK);
}

// Also the one test of the full connection wait.
TEST_F(DestinationRootTest, SetDevicePathWithoutADeviceStopsAfterTheConnectionMessage) {
    FolderDevice absent((temp_ / "unplugged").string(), false);
    Console console(surface_, session_, absent, settings_);
    DeviceContext context = DeviceContextOf(console);
    surface_.QueueDestination("\\Data", false);
    const auto start = std::chrono::steady_clock::now();
    OnSetDevicePath(context);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kConnectWaitMs));
    EXPECT_LT(waited, std::chrono::milliseconds(kConnectWaitMs + 2000));
    EXPECT_EQ(surface_.EventsOf("message").size(), 1u);
    EXPECT_TRUE(Questions().empty());
    EXPECT_EQ(settings_.PrePath(), "");
}

}  // namespace
}  // namespace zephyrate::test
