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

// A run settles the root (on the storage card, without a question, or asked and
// cancelled), asks for the address and runs its job; the closing status and the outcome
// sum the job up, with the typed reasons of a failed fetch and of a file the device would
// not take. A stop request left from before stops the next run's job.
TEST_F(SyncRunTest, TheOutcomeSumsUpTheJob) {
    using Fetch = FetchFailure::Kind;
    using Write = DeviceWriteFailure::Kind;
    const std::string job = "Kestrelwynd NV|";
    const std::string errors = "There were error(s). Check details for more info.";
    const std::string parsed = job + "Succesfully parsed server configuration file|0";
    const struct {
        std::string path;  // of the typed address; empty: the question is cancelled
        bool stop;         // a request to cancel all, left from before
        RunOutcome outcome;
        std::string status, jobRow;
        Fetch fetch;
        Write write;
    } cases[] = {
        {"", false, RunOutcome::NoRoot, "Connecting to mobile device.", "", Fetch::None,
         Write::None},
        {"/sub/index.txt", false, RunOutcome::Finished, "Finished", parsed, Fetch::None,
         Write::None},
        {"", false, RunOutcome::Finished, "Finished", "", Fetch::None, Write::None},
        {"/none.txt", false, RunOutcome::Errors, errors, job + "Connection with server failed|1",
         Fetch::HttpStatus, Write::None},
        {"/sub/index.txt", true, RunOutcome::Interrupted, errors, job + "User abort|1", Fetch::None,
         Write::None},
        // Read-only, and no trash folder to move it to.
        {"/sub/index.txt", false, RunOutcome::Errors, errors, parsed, Fetch::None,
         Write::AccessDenied},
    };
    temp_.WriteFile("device/Storage Card/.storage-card", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + c.status);
        surface_.Clear();
        if (!c.path.empty()) {
            surface_.QueueUrl(site_.Address(c.path));
        }
        if (c.stop) {
            console_.Control().SetCancelAll();
        }
        if (c.write != Write::None) {
            fs::remove(OnDevice("Storage Card/Zephyrate/news/a.txt"));
            chmod(temp_.WriteFile("device/Storage Card/Zephyrate/news/a.txt", "old").c_str(), 0444);
        }
        settings_.SetDontask(c.outcome != RunOutcome::NoRoot);
        const RunResult result = SyncRun(console_);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(surface_.LastStatus(), c.status);
        EXPECT_EQ(Rows().empty() ? "" : Rows().front(), c.jobRow);
        EXPECT_EQ(result.fetch.kind, c.fetch);
        EXPECT_EQ(result.deviceWrite.kind, c.write);
        EXPECT_EQ(surface_.EventsOf("destination").size(),
                  c.outcome == RunOutcome::NoRoot ? 1u : 0u);
        EXPECT_EQ(surface_.EventsOf("mode").back(), "idle");
        EXPECT_FALSE(console_.Control().Running());
    }
    EXPECT_EQ(settings_.PrePath(), "\\Storage Card\\Zephyrate");
    EXPECT_EQ(Read(OnDevice("Storage Card/Zephyrate/news/a.txt")), "old");
    EXPECT_TRUE(fs::exists(temp_ / ("127.0.0.1:" + std::to_string(site_.Port()) + ".log")));
}

}  // namespace
}  // namespace zephyrate::test
