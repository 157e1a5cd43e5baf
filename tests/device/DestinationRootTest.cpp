// The device link, the root folder and the destination dialog's folder tree (without a
// window) against a real device folder, with the questions answered by the recording surface.
// Storage cards are folders holding a ".storage-card" file; the device lists its top folder sorted
// by name in byte order.
#include "device/DestinationRoot.h"

#include <gtest/gtest.h>

#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "device/FolderBrowser.h"
#include "engine/SyncRun.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

const std::string kRetry =
    "Error|Couldn't establish a connection to the device. Check Activesync connection|"
    "retry-cancel";

class DestinationRootTest : public ConsoleFixture {
  protected:
    void Card(const std::string& name) { temp_.WriteFile("device/" + name + "/.storage-card", ""); }
    // The folder tree's level as "NAME|MARK" per folder, or "failed".
    Texts Level(std::string_view path) {
        const auto folders = ListFolderLevel(context_, path);
        Texts level;
        for (const DeviceFolder& folder : folders.value_or(std::vector<DeviceFolder>{})) {
            level.push_back(folder.name + "|" + std::to_string(folder.hasSubfolders));
        }
        return folders ? level : Texts{"failed"};
    }

    DeviceContext context_ = DeviceContextOf(console_);
};

// A pending stop request spares the retry question.
TEST_F(DestinationRootTest, WithoutADeviceEachWaitEndsInTheRetryQuestionUnlessAStopIsPending) {
    DisconnectDevice(device_);
    EXPECT_NE(device_.CeRapiGetError(), S_OK);
    fs::remove(root_);
    surface_.QueueRetry(1);
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(ConnectDevice(context_, 100), -1);
    EXPECT_TRUE(surface_.EventsOf("message").empty());
    EXPECT_FALSE(console_.Control().CancelThisJob()) << "the request was taken up";
    surface_.Clear();
    EXPECT_EQ(ConnectDevice(context_, 100), -1);  // Retry once, then Cancel
    EXPECT_EQ(surface_.Events(), (Texts{"message:" + kRetry, "message:" + kRetry, "mode:idle"}));
}

TEST_F(DestinationRootTest, TheAutomaticChoiceTakesTheFirstKnownCardElseTheLastCard) {
    const std::pair<Texts, std::string> cases[] = {
        {{}, "\\Zephyrate"},
        {{"CF Card", "SD Card", "Storage Card2"}, "\\SD Card\\Zephyrate"},
        {{"SD Card", "Storage Card"}, "\\SD Card\\Zephyrate"},  // the listing decides
        {{"CF Card", "storage card"}, "\\storage card\\Zephyrate"},
    };
    for (const auto& [cards, root] : cases) {
        for (const auto& entry : fs::directory_iterator(temp_ / "device")) {
            fs::remove_all(entry.path());  // the folder itself stays: the link holds it open
        }
        fs::create_directories(temp_ / "device/Storage Card");  // a folder, not a card
        for (const std::string& card : cards) {
            Card(card);
        }
        settings_.SetPrePath("\\Gone");  // a missing root is replaced without a question
        EXPECT_TRUE(SettleRoot(context_));
        EXPECT_EQ(settings_.PrePath(), root);
    }
    EXPECT_TRUE(surface_.Events().empty());
}

using FolderBrowserTest = DestinationRootTest;

// Folders only, hidden ones left out, sorted ignoring case, each marked when it has
// subfolders; a listing that fails is tried once more after reopening the link.
TEST_F(FolderBrowserTest, ListsOneLevelWithExpandMarksAndReconnectsOnceOnFailure) {
    for (const char* file : {"b/inner/deeper/x.txt", "A/file.txt", "top.txt", ".hidden/d/x"}) {
        temp_.WriteFile(std::string("device/") + file, "");
    }
    EXPECT_EQ(Level(""), (Texts{"A|0", "b|1"}));
    EXPECT_EQ(Level("\\B"), Texts{"inner|1"});
    DisconnectDevice(device_);
    EXPECT_EQ(Level("\\b\\inner"), Texts{"deeper|0"});
    EXPECT_EQ(Level("\\missing"), Texts{"failed"});
    EXPECT_TRUE(surface_.EventsOf("message").empty()) << "the device was there to reconnect";
    EXPECT_EQ(FolderItemPath({}), "");
    EXPECT_EQ(FolderItemPath({"Windows", "Fonts"}), "\\Windows\\Fonts");
}

}  // namespace
}  // namespace zephyrate::test
