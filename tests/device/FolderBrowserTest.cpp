// The destination dialog's folder tree without a window, on a real device folder.
#include "device/FolderBrowser.h"

#include <gtest/gtest.h>

#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "engine/SyncRun.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

class FolderBrowserTest : public ConsoleFixture {
  protected:
    // The level as "NAME|MARK" per folder, or "failed".
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
