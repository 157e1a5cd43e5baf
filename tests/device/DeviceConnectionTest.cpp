// Opening the device link against a real device folder that is there, missing, or appears
// while the user is asked; the retry question is answered by the recording surface.
#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "engine/SyncRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "settings/SettingsStore.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Texts = std::vector<std::string>;

constexpr std::uint32_t kShortWaitMs = 200;
const std::string kRetryMessage =
    "Error|Couldn't establish a connection to the device. Check Activesync connection|"
    "retry-cancel";

class DeviceConnectionTest : public ::testing::Test {
  protected:
    DeviceConnectionTest()
        : device_((temp_ / "device").string(), false),
          settings_((temp_ / "settings.reg").string()),
          console_(surface_, session_, device_, settings_) {}

    void MakeDevice() { fs::create_directories(temp_ / "device"); }
    bool LinkUp() { return device_.CeRapiGetError() == S_OK; }

    TempFolder temp_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
    Console console_;
    DeviceContext context_ = DeviceContextOf(console_);
};

TEST_F(DeviceConnectionTest, APresentDeviceConnectsAtOnceWithoutAQuestion) {
    MakeDevice();
    // A stop request matters only once an attempt failed; it stays for the run to take up.
    console_.Control().SetCancelThisJob();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), 0);
    EXPECT_LT(Clock::now() - start, milliseconds(kShortWaitMs));
    EXPECT_TRUE(LinkUp());
    EXPECT_TRUE(surface_.Events().empty());
    EXPECT_TRUE(console_.Control().CancelThisJob());

    // A link that is open already opens again: a run always starts from a reset link.
    EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), 0);
    EXPECT_EQ(DisconnectDevice(device_), 0);
    EXPECT_FALSE(LinkUp());
    EXPECT_EQ(DisconnectDevice(device_), 0);  // nothing open: still 0, nothing shown
    EXPECT_TRUE(surface_.Events().empty());
}

TEST_F(DeviceConnectionTest, AMissingDeviceAsksAfterEveryWaitUntilCancel) {
    for (const int retries : {0, 1, 3}) {
        SCOPED_TRACE("retries " + std::to_string(retries));
        surface_.Clear();
        surface_.QueueRetry(retries);
        std::vector<Clock::duration> askedAt;
        const Clock::time_point start = Clock::now();
        surface_.OnEvent([&](const std::string& event) {
            if (event.starts_with("message:")) {
                askedAt.push_back(Clock::now() - start);
            }
        });
        EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), -1);
        surface_.OnEvent({});

        EXPECT_EQ(surface_.EventsOf("message"), Texts(retries + 1, kRetryMessage));
        EXPECT_EQ(surface_.EventsOf("mode"), Texts{"idle"});  // Cancel puts the console back
        ASSERT_EQ(askedAt.size(), static_cast<std::size_t>(retries + 1));
        for (std::size_t i = 0; i < askedAt.size(); ++i) {
            // Each question only after its own full wait.
            EXPECT_GE(askedAt[i], milliseconds(kShortWaitMs * (i + 1))) << "question " << i;
        }
        EXPECT_FALSE(LinkUp());
    }
}

TEST_F(DeviceConnectionTest, APendingStopRequestEndsAFailedAttemptWithoutAQuestion) {
    struct Case {
        const char* name;
        void (RunControl::*request)();
    };
    const Case cases[] = {{"cancel all", &RunControl::SetCancelAll},
                          {"cancel this job", &RunControl::SetCancelThisJob}};
    surface_.QueueRetry(1);  // would be used up if a question were asked
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        surface_.Clear();
        (console_.Control().*c.request)();
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), -1);
        EXPECT_GE(Clock::now() - start, milliseconds(kShortWaitMs));  // the wait ran out first
        EXPECT_TRUE(surface_.EventsOf("message").empty());
        EXPECT_FALSE(console_.Control().CancelAll() || console_.Control().CancelThisJob())
            << "the request was not taken up";
    }
    // The queued Retry was never used: the next failure asks once more and retries once.
    surface_.Clear();
    EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), -1);
    EXPECT_EQ(surface_.EventsOf("message").size(), 2u);
}

TEST_F(DeviceConnectionTest, RetryConnectsOnceTheDeviceHasAppeared) {
    surface_.QueueRetry(1);
    surface_.OnEvent([this](const std::string& event) {
        if (event.starts_with("message:")) {
            MakeDevice();  // the user plugs the device in, then presses Retry
        }
    });
    EXPECT_EQ(ConnectDevice(context_, kShortWaitMs), 0);
    surface_.OnEvent({});
    EXPECT_EQ(surface_.EventsOf("message"), Texts{kRetryMessage});
    EXPECT_TRUE(surface_.EventsOf("mode").empty());
    EXPECT_TRUE(LinkUp());
}

}  // namespace
}  // namespace zephyrate::test
