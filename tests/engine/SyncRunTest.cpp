// Whole runs: device link, root, address question, the job and the closing status, with a
// real device folder, a real folder server and a recording console.
#include "engine/SyncRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ConsoleFixture.h"
#include "tests/support/FolderServer.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

TEST(LogFileNameTest, TakesTheTextBeforeTheFirstSlashOrAllButTheLastCharacter) {
    const std::pair<const char*, const char*> cases[] = {
        {"host/dir/list.txt", "host.log"},
        {"127.0.0.1:8080/sub/index.txt", "127.0.0.1:8080.log"},
        {"host", "hos.log"},
        {"h", ".log"},
        {"", ".log"},
        {"/index.txt", ".log"},
        {"../../etc/x", "...log"},
    };
    for (const auto& [url, name] : cases) {
        EXPECT_EQ(LogFileName(url), name) << url;
    }
}

class SyncRunTest : public ConsoleFixture {
  protected:
    SyncRunTest() {
        temp_.WriteFile("www/sub/index.txt", "Header:zephyrate v1.0\nCEFolder:news\nFile: a.txt\n");
        temp_.WriteFile("www/sub/a.txt", "alpha");
        settings_.SetUseProxy(1);  // the run applies the stored proxy choice
        // The update log is named relative to the current folder.
        EXPECT_EQ(::chdir(temp_.Path().c_str()), 0);
    }
    ~SyncRunTest() override { EXPECT_EQ(::chdir(home_.c_str()), 0); }

    std::string Address(std::string_view path = "/sub/index.txt") const {
        return "127.0.0.1:" + std::to_string(server_.Port()) + std::string(path);
    }

    const fs::path home_ = fs::current_path();
    FolderServer& server_ = Keep<FolderServer>(temp_ / "www");
};

TEST_F(SyncRunTest, ARunSettlesTheRootAsksForTheAddressAndRunsItsJob) {
    temp_.WriteFile("device/Storage Card/.storage-card", "");
    surface_.QueueUrl(Address());
    EXPECT_EQ(SyncRun(console_).outcome, RunOutcome::Finished);

    const Texts status = surface_.StatusTexts();
    EXPECT_EQ(status.front(), "Connecting to mobile device.");
    EXPECT_EQ(status.back(), "Finished");
    EXPECT_EQ(surface_.EventsOf("mode").front(), "running");
    EXPECT_EQ(surface_.EventsOf("mode").back(), "idle");
    EXPECT_TRUE(surface_.EventsOf("destination").empty());  // automatic selection asks nothing
    EXPECT_EQ(settings_.PrePath(), "\\Storage Card\\Zephyrate");
    EXPECT_EQ(TempFolder::ReadFile(temp_ / "device/Storage Card/Zephyrate/news/a.txt"), "alpha");
    EXPECT_TRUE(fs::exists(temp_ / ("127.0.0.1:" + std::to_string(server_.Port()) + ".log")));
    EXPECT_FALSE(console_.Control().Running());
}

TEST_F(SyncRunTest, TheClosingStatusSumsUpTheJob) {
    struct Case {
        std::string name;
        std::string url;  // empty: the address question is cancelled
        RunOutcome outcome;
        std::size_t rows;
        std::uint32_t httpStatus;  // of a failed fetch of the index; 0: the index came
    };
    const Case cases[] = {
        {"cancelled address", "", RunOutcome::Finished, 0, 0},
        {"missing index", Address("/missing.txt"), RunOutcome::Errors, 1, 404},
        {"missing file", Address(), RunOutcome::Errors, 2, 0},
    };
    fs::remove(temp_ / "www/sub/a.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        surface_.Clear();
        if (!c.url.empty()) {
            surface_.QueueUrl(c.url);
        }
        const RunResult result = SyncRun(console_);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.fetch.kind,
                  c.httpStatus == 0 ? FetchFailure::Kind::None : FetchFailure::Kind::HttpStatus);
        EXPECT_EQ(result.fetch.httpStatus, c.httpStatus);
        EXPECT_EQ(surface_.LastStatus(), c.outcome == RunOutcome::Finished
                                             ? "Finished"
                                             : "There were error(s). Check details for more info.");
        EXPECT_EQ(console_.Jobs().Rows().size(), c.rows);
    }
    EXPECT_EQ(surface_.EventsOf("rows-cleared").size(), 1u);  // each run starts empty
}

TEST_F(SyncRunTest, ARootQuestionCancelledEndsTheRunWithoutAJob) {
    settings_.SetDontask(false);
    settings_.SetPrePath("\\Zephyrate");
    EXPECT_EQ(SyncRun(console_).outcome, RunOutcome::NoRoot);
    EXPECT_EQ(surface_.EventsOf("destination"), Texts{"Enter the root directory|\\Zephyrate|0"});
    EXPECT_EQ(surface_.LastStatus(), "Connecting to mobile device.");
    EXPECT_EQ(surface_.EventsOf("mode").back(), "idle");
    EXPECT_TRUE(surface_.EventsOf("url").empty());
    EXPECT_FALSE(console_.Control().Running());
}

TEST_F(SyncRunTest, AStopRequestLeftFromBeforeStopsTheNextRunsJob) {
    // A skip ends the job with errors; a cancel of all interrupts the run.
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all);
        all ? console_.Control().SetCancelAll() : console_.Control().SetCancelThisJob();
        surface_.QueueUrl(Address());
        EXPECT_EQ(SyncRun(console_).outcome, all ? RunOutcome::Interrupted : RunOutcome::Errors);
        EXPECT_EQ(surface_.Rows(), Texts{"Kestrelwynd NV|User abort|1"});
        EXPECT_FALSE(fs::exists(temp_ / "device/Zephyrate/news/a.txt"));
    }
}

TEST_F(SyncRunTest, WithoutADeviceTheRunEndsAfterTheWaitAndTheRetryQuestion) {
    FolderDevice absent((temp_ / "no-such-folder").string(), false);
    Console console(surface_, session_, absent, settings_);
    surface_.QueueUrl(Address());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SyncRun(console).outcome, RunOutcome::NoDevice);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    EXPECT_EQ(surface_.EventsOf("message"),
              Texts{"Error|Couldn't establish a connection to the device. Check Activesync "
                    "connection|retry-cancel"});
    EXPECT_EQ(surface_.LastStatus(), "Failed to connect to the mobile device.");
    EXPECT_EQ(surface_.EventsOf("mode").back(), "idle");
    EXPECT_TRUE(surface_.EventsOf("url").empty());
    EXPECT_FALSE(console.Control().Running());
}

}  // namespace
}  // namespace zephyrate::test
