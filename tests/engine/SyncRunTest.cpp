// Whole runs: the device link, the root, the address question, the job from its index to
// its last file, the update log and the closing status, with a real test site, a real
// device folder, real settings and log files and a recording console; and the window's way
// of running them, on a worker thread, never two at once.
#include "engine/SyncRun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "engine/JobDriver.h"
#include "engine/RunWorker.h"
#include "engine/ServerConfig.h"
#include "engine/SyncJob.h"
#include "tests/support/ConsoleFixture.h"
#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {
namespace {

const std::string kHeader = "Header:zephyrate v1.0\nCEFolder: \\news\\\n";
const std::string kJob = "Kestrelwynd NV|";
const std::string kEntry = "Kestrelwynd NV: ";
const std::string kParsed = kJob + "Succesfully parsed server configuration file|0";
const std::string kErrors = "There were error(s). Check details for more info.";
const std::string kInvalid = kJob + "Invalid configuration file at server. Please contact: ";

// The text before the first '/' names the log; an address without one loses its last
// character. Either way the name stays in the log folder.
TEST(LogFileNameTest, TakesTheTextBeforeTheFirstSlashOrAllButTheLastCharacter) {
    EXPECT_EQ(LogFileName("host"), "hos.log");
    EXPECT_EQ(LogFileName("../../etc/x"), "...log");
}

class SyncRunTest : public ConsoleFixture {
  protected:
    SyncRunTest() {
        site_.ServeFolder(temp_ / "www");
        site_.Start();
        settings_.SetUseProxy(1);  // the run applies the stored proxy choice
        // The update log is named relative to the current folder.
        EXPECT_EQ(::chdir(temp_.Path().c_str()), 0);
    }
    ~SyncRunTest() override { EXPECT_EQ(::chdir(home_.c_str()), 0); }

    // Serves the index at /sub/index.txt and the named files next to it.
    void Publish(const std::string& index, const Texts& files = {}) {
        temp_.WriteFile("www/sub/index.txt", index);
        for (const std::string& name : files) {
            temp_.WriteFile("www/sub/" + name, "content of " + name);
        }
    }
    // A run whose address question is answered with address, or cancelled when it is empty.
    RunResult Run(const std::string& address = {}) {
        surface_.Clear();
        if (!address.empty()) {
            surface_.QueueUrl(address);
        }
        return SyncRun(console_);
    }
    bool Exists(std::string_view relative) const { return fs::exists(OnDevice(relative)); }

    const fs::path home_ = fs::current_path();
};

TEST_F(SyncRunTest, JobsPlaceFilesAndLaterJobsRemoveWhatWasWithdrawn) {
    Publish(kHeader + "Splash:Welcome, reader \nFile: missing.txt\nFile: a.txt, link:Alpha\n" +
                "File: docs/b.txt, exe:Bee\n",
            {"a.txt", "docs/b.txt"});
    const std::string address = site_.Address("/sub/index.txt");
    // A failing entry is followed by the next.
    EXPECT_EQ(Run(address).outcome, RunOutcome::Errors);
    EXPECT_EQ(Rows(), (Texts{kParsed, kEntry + "missing.txt|Failed: HTTP ERROR CODE: 404.|1",
                             kEntry + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0",
                             kEntry + "docs/b.txt|Added: \\Zephyrate\\news\\docs/b.txt.|0"}));
    EXPECT_EQ(surface_.EventsOf("detail"),
              (Texts{"1|", "2|Kestrelwynd NV", "3|support@kestrelwynd.example",
                     "4|http://www.kestrelwynd.example/", "1|Welcome, reader "}));
    const Texts status = surface_.EventsOf("status");
    EXPECT_EQ(Texts(status.end() - 2, status.end()), (Texts{"Synchronisation complete", kErrors}));
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/docs/b.txt")), "content of docs/b.txt");
    EXPECT_EQ(settings_.PrePath(), "\\Zephyrate");

    // b.txt fails once: its copy and shortcut stay until an index no longer lists it.
    fs::remove(temp_ / "www/sub/docs/b.txt");
    Run(address);
    EXPECT_EQ(Rows()[2], kEntry + "a.txt|Checked: \\Zephyrate\\news\\a.txt already up to date.|0");
    EXPECT_TRUE(Exists("Zephyrate/news/docs/b.txt"));
    Publish(kHeader + "File: a.txt, link:Alpha\n");
    EXPECT_EQ(Run(address).outcome, RunOutcome::Finished);
    EXPECT_EQ(surface_.LastStatus(), "Finished");
    EXPECT_FALSE(Exists("Zephyrate/news/docs/b.txt") ||
                 Exists("windows/Start Menu/Programs/Bee.lnk"));
    EXPECT_TRUE(Exists("windows/favorites/news/Alpha.url"));

    // A changed file whose read-only copy cannot go to the trash (there is none).
    temp_.WriteFile("www/sub/a.txt", "changed");
    chmod(OnDevice("Zephyrate/news/a.txt").c_str(), 0444);
    EXPECT_EQ(Run(address).deviceWrite.kind, DeviceWriteFailure::Kind::AccessDenied);
    EXPECT_EQ(Rows()[1], kEntry + "a.txt|Failed: Error: writing file data to device.|1");

    // An index without entries withdraws all, and the trash is emptied.
    chmod(OnDevice("Zephyrate/news/a.txt").c_str(), 0644);
    Publish(kHeader);
    temp_.WriteFile("device/Zephyrate/Trash/x.001", "trash");
    Run(address);
    EXPECT_EQ(Rows(), Texts{kParsed});
    EXPECT_FALSE(Exists("Zephyrate/news/a.txt") || Exists("windows/favorites/news/Alpha.url") ||
                 Exists("Zephyrate/Trash/x.001"));

    // A log that cannot be read fails the job after its files.
    Publish(kHeader + "File: a.txt\n", {"a.txt"});
    const std::string log = LogFileName(address);
    fs::remove(temp_ / log);
    fs::create_directories(temp_ / log);
    EXPECT_EQ(Run(address).outcome, RunOutcome::Errors);
    EXPECT_EQ(Rows(), (Texts{kJob + "Failed: The update log " + log +
                                 " could not be read: Is a directory.|1",
                             kEntry + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0"}));
}

// A run that ends early, or whose index is refused, leaves the log and the device as they
// were, and sums up why: the rows, the closing status, the outcome and the typed reason of
// a failed fetch. A stop request left from before stops the next run's job.
TEST_F(SyncRunTest, ARunThatEndsEarlyLeavesTheLogAndTheDevice) {
    temp_.WriteFile("device/old", "kept");
    const std::string files = "File: a.txt\nFile: b.txt\nFile: c.txt\nFile: d.txt\nFile: e.txt\n";
    Publish(kHeader + files, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"});
    temp_.WriteFile("www/bad/index.txt", "Header: zephyrate v1.0\n" + files);  // a blank too many
    temp_.WriteFile("www/big/index.txt", kHeader + std::string(ServerConfig::kMaxLength, 'z'));
    // At /sub/index.txt the index whole without a length, then files cut short; at
    // /cut/index.txt an index longer than its length.
    RawHttpServer raw([&](RawHttpServer::Connection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.starts_with("GET /sub/index.txt")) {
            return connection.Send("HTTP/1.1 200 OK\r\n\r\n" + kHeader + files);
        }
        const std::size_t length = request.starts_with("GET /cut") ? 5 : 1000;
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) +
                        "\r\n\r\n" + kHeader);
    });
    const std::string failed = kJob + "Connection with server failed|1";
    const std::string abort = kJob + "User abort|1";
    const std::string invalid = kInvalid + "support@kestrelwynd.example|1";
    using Kind = FetchFailure::Kind;
    enum Stop { kNone, kSkipAtC, kCancelBefore };
    const struct {
        std::string path;  // of the index; "raw..." at the raw server; empty: no address
        Stop stop;
        RunOutcome outcome;
        std::string jobRow, lastRow;  // lastRow: of the entries, empty when there are none
        Kind fetch;
    } cases[] = {
        {"", kNone, RunOutcome::NoRoot, "", "", Kind::None},  // the root question cancelled
        {"", kNone, RunOutcome::Finished, "", "", Kind::None},
        {"/sub/index.txt", kSkipAtC, RunOutcome::Errors, abort, "e.txt|User abort|1", Kind::None},
        {"/sub/index.txt", kCancelBefore, RunOutcome::Interrupted, abort, "", Kind::None},
        {"/bad/index.txt", kNone, RunOutcome::Errors, invalid, "", Kind::None},
        {"/big/index.txt", kNone, RunOutcome::Errors, failed, "", Kind::TooLarge},
        {"raw/cut/index.txt", kNone, RunOutcome::Errors, failed, "", Kind::Incomplete},
        // The error is shown in a message box and on its row; later rows stay queued.
        {"raw/sub/index.txt", kNone, RunOutcome::Errors, kParsed, "e.txt|Added to Sync Queue|3",
         Kind::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.stop));
        const std::string address = c.path.starts_with("raw") ? raw.Url(c.path.substr(3)).substr(7)
                                    : c.path.empty()          ? ""
                                                              : site_.Address(c.path);
        const std::string log = "U\nD\n\\old\n";
        temp_.WriteFile(LogFileName(address), log);
        settings_.SetDontask(c.outcome != RunOutcome::NoRoot);
        if (c.stop == kCancelBefore) {
            console_.Control().SetCancelAll();
        }
        surface_.OnEvent([&](const std::string& event) {
            if (event == "status:Checking file c.txt" && c.stop == kSkipAtC) {
                console_.Control().SetCancelThisJob();
            }
        });
        const RunResult result = Run(address);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.fetch.kind, c.fetch);
        const Texts rows = Rows();
        EXPECT_EQ(rows.empty() ? "" : rows.front(), c.jobRow);
        EXPECT_EQ(rows.empty() ? "" : rows.back(),
                  c.lastRow.empty() ? c.jobRow : kEntry + c.lastRow);
        EXPECT_EQ(surface_.LastStatus(), c.outcome == RunOutcome::NoRoot
                                             ? "Connecting to mobile device."
                                         : c.outcome == RunOutcome::Finished ? "Finished"
                                                                             : kErrors);
        EXPECT_FALSE(console_.Control().Running());
        EXPECT_EQ(Read(temp_ / LogFileName(address)), log);
        EXPECT_TRUE(Exists("old"));
        EXPECT_FALSE(Exists("Zephyrate/news/e.txt"));
    }
    surface_.OnEvent({});
    const Texts messages = surface_.EventsOf("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(Rows()[1],
              kEntry + "a.txt|Failed: " + messages[0].substr(10, messages[0].size() - 13) + ".|1");

    // A job without the provider's e-mail address (the run's jobs always have one) points
    // to "your provider".
    SyncJob job;
    job.Url = site_.Address("/bad/index.txt");
    job.ProviderEmail = "";
    EXPECT_EQ(RunJob(console_, job), kJobDone);
    EXPECT_EQ(Rows().back(), kInvalid + "your provider|1");
}

using RunWorkerTest = ConsoleFixture;

// The worker holds at its first event until the second start request has been made: a
// start while a run is active starts nothing; the next one, after the end, runs.
TEST_F(RunWorkerTest, AStartWhileARunIsActiveStartsNothing) {
    std::promise<void> secondTried;
    std::shared_future<void> tried = secondTried.get_future().share();
    surface_.OnEvent([tried](const std::string&) { tried.wait(); });
    int ended = 0;
    RunWorker worker(console_);
    const auto onEnd = [&ended](const RunResult& r) { ended += r.outcome == RunOutcome::Finished; };
    ASSERT_TRUE(worker.Start(onEnd));
    EXPECT_FALSE(worker.Start(onEnd));
    secondTried.set_value();
    worker.Join();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(worker.Start(onEnd));  // the address question is cancelled again
    worker.Join();
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(surface_.EventsOf("url").size(), 2u);
}

}  // namespace
}  // namespace zephyrate::test
