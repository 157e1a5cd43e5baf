// Whole runs: device link, root, address question, the job and the closing status, with a
// real device folder, a real test site and a recording console.
#include "engine/SyncRun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

TEST(LogFileNameTest, TakesTheTextBeforeTheFirstSlashOrAllButTheLastCharacter) {
    const std::pair<const char*, const char*> cases[] = {
        {"host/dir/list.txt", "host.log"},
        {"127.0.0.1:8080/sub/index.txt", "127.0.0.1:8080.log"},
        {"host", "hos.log"},
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
        site_.ServeFolder(temp_ / "www");
        site_.Start();
        settings_.SetUseProxy(1);  // the run applies the stored proxy choice
        // The update log is named relative to the current folder.
        EXPECT_EQ(::chdir(temp_.Path().c_str()), 0);
    }
    ~SyncRunTest() override { EXPECT_EQ(::chdir(home_.c_str()), 0); }

    const fs::path home_ = fs::current_path();
};

TEST_F(SyncRunTest, ARunSettlesTheRootAsksForTheAddressAndRunsItsJob) {
    temp_.WriteFile("device/Storage Card/.storage-card", "");
    surface_.QueueUrl(site_.Address("/sub/index.txt"));
    EXPECT_EQ(SyncRun(console_).outcome, RunOutcome::Finished);
    EXPECT_EQ(surface_.EventsOf("status").front(), "Connecting to mobile device.");
    EXPECT_EQ(surface_.LastStatus(), "Finished");
    EXPECT_EQ(surface_.EventsOf("mode"), (Texts{"running", "idle"}));
    EXPECT_TRUE(surface_.EventsOf("destination").empty());  // automatic selection asks nothing
    EXPECT_EQ(settings_.PrePath(), "\\Storage Card\\Zephyrate");
    EXPECT_EQ(Read(OnDevice("Storage Card/Zephyrate/news/a.txt")), "alpha");
    EXPECT_TRUE(fs::exists(temp_ / ("127.0.0.1:" + std::to_string(site_.Port()) + ".log")));
    EXPECT_FALSE(console_.Control().Running());
}

// The closing status and the outcome sum up the job, with the typed reasons of a failed
// fetch and of a file the device would not take. A stop request left from before stops the
// next run's job: a skip ends it with errors, a cancel of all interrupts the run.
TEST_F(SyncRunTest, TheOutcomeSumsUpTheJob) {
    using Fetch = FetchFailure::Kind;
    using Write = DeviceWriteFailure::Kind;
    const std::string parsed = "Kestrelwynd NV|Succesfully parsed server configuration file|0";
    const struct {
        std::string name;
        std::string path;  // of the typed address; empty: the question is cancelled
        int stop;          // 1: skip, -1: cancel all
        RunOutcome outcome;
        Texts rows;
        Fetch fetch;
        Write write;
    } cases[] = {
        {"cancelled address", "", 0, RunOutcome::Finished, {}, Fetch::None, Write::None},
        {"missing index",
         "/none.txt",
         0,
         RunOutcome::Errors,
         {"Kestrelwynd NV|Connection with server failed|1"},
         Fetch::HttpStatus,
         Write::None},
        {"skip",
         "/sub/index.txt",
         1,
         RunOutcome::Errors,
         {"Kestrelwynd NV|User abort|1"},
         Fetch::None,
         Write::None},
        {"cancel all",
         "/sub/index.txt",
         -1,
         RunOutcome::Interrupted,
         {"Kestrelwynd NV|User abort|1"},
         Fetch::None,
         Write::None},
        // Read-only, and no trash folder to move it to.
        {"read-only copy",
         "/sub/index.txt",
         0,
         RunOutcome::Errors,
         {parsed, "Kestrelwynd NV: a.txt|Failed: Error: writing file data to device.|1"},
         Fetch::None,
         Write::AccessDenied},
    };
    chmod(temp_.WriteFile("device/Zephyrate/news/a.txt", "old").c_str(), 0444);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        surface_.Clear();
        if (!c.path.empty()) {
            surface_.QueueUrl(site_.Address(c.path));
        }
        if (c.stop != 0) {
            c.stop == 1 ? console_.Control().SetCancelThisJob() : console_.Control().SetCancelAll();
        }
        const RunResult result = SyncRun(console_);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(Rows(), c.rows);
        EXPECT_EQ(result.fetch.kind, c.fetch);
        EXPECT_EQ(result.deviceWrite.kind, c.write);
        EXPECT_EQ(surface_.LastStatus(), c.outcome == RunOutcome::Finished
                                             ? "Finished"
                                             : "There were error(s). Check details for more info.");
        EXPECT_EQ(surface_.EventsOf("rows-cleared").size(), 1u);  // each run starts empty
    }
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.txt")), "old");
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

}  // namespace
}  // namespace zephyrate::test
