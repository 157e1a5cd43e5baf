// Whole jobs end to end: a real test site for the index and its files, a real device
// folder, a real settings file and update log, and a recording console.
#include "engine/JobDriver.h"

#include <gtest/gtest.h>

#include "engine/ServerConfig.h"
#include "engine/SyncJob.h"
#include "tests/support/ConsoleFixture.h"
#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {
namespace {

const std::string kHeader = "Header:zephyrate v1.0\nCEFolder: \\news\\\n";
const std::string kParsed = "Succesfully parsed server configuration file|0";
const std::string kJob = "Kestrelwynd NV|";
const std::string kEntry = "Kestrelwynd NV: ";

class JobDriverTest : public ConsoleFixture {
  protected:
    JobDriverTest() {
        fs::create_directories(temp_ / "logs");
        job_.LogFileName = (temp_ / "logs/127.0.0.1.log").string();
        settings_.SetPrePath("\\Zephyrate");
        site_.ServeFolder(temp_ / "www");
        site_.Start();
    }
    // Serves the index at /sub/index.txt and the named files next to it.
    void Publish(const std::string& index, const Texts& files = {}) {
        temp_.WriteFile("www/sub/index.txt", index);
        for (const std::string& name : files) {
            temp_.WriteFile("www/sub/" + name, "content of " + name);
        }
    }
    int Run(const std::string& address = {}, const std::string& email = kSupportEmail) {
        surface_.Clear();
        console_.Jobs().DeleteAllRows();
        job_.Url = address.empty() ? site_.Address("/sub/index.txt") : address;
        job_.ProviderEmail = email;
        return RunJob(console_, job_);
    }
    bool Exists(std::string_view relative) const { return fs::exists(OnDevice(relative)); }

    SyncJob job_;
};

TEST_F(JobDriverTest, ACompleteJobPlacesFilesAndLaterJobsRemoveWhatWasWithdrawn) {
    Publish(kHeader + "Splash:Welcome, reader \nFile: missing.txt\nFile: a.txt, link:Alpha\n" +
                "File: docs/b.txt, exe:Bee\n",
            {"a.txt", "docs/b.txt"});
    ASSERT_EQ(Run(), kJobDone);
    // A failing entry is followed by the next.
    EXPECT_EQ(Rows(), (Texts{kJob + kParsed, kEntry + "missing.txt|Failed: HTTP ERROR CODE: 404.|1",
                             kEntry + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0",
                             kEntry + "docs/b.txt|Added: \\Zephyrate\\news\\docs/b.txt.|0"}));
    EXPECT_EQ(surface_.EventsOf("detail"),
              (Texts{"1|", "2|Kestrelwynd NV", "3|support@kestrelwynd.example",
                     "4|http://www.kestrelwynd.example/", "1|Welcome, reader "}));
    EXPECT_EQ(surface_.EventsOf("logo"), Texts{"131"});
    EXPECT_EQ(surface_.EventsOf("link"), Texts{"http://www.kestrelwynd.example/"});
    const Texts status = surface_.EventsOf("status");
    EXPECT_EQ(Texts(status.begin(), status.begin() + 3),
              (Texts{"Connecting with server...", "Retrieving file index from server...",
                     "Checking file missing.txt"}));
    EXPECT_EQ(status.back(), "Synchronisation complete");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/docs/b.txt")), "content of docs/b.txt");

    // b.txt fails once: its copy and shortcut stay until an index no longer lists it.
    fs::remove(temp_ / "www/sub/docs/b.txt");
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(Rows()[2], kEntry + "a.txt|Checked: \\Zephyrate\\news\\a.txt already up to date.|0");
    EXPECT_TRUE(Exists("Zephyrate/news/docs/b.txt"));
    Publish(kHeader + "File: a.txt, link:Alpha\n");
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_FALSE(Exists("Zephyrate/news/docs/b.txt") ||
                 Exists("windows/Start Menu/Programs/Bee.lnk"));
    EXPECT_TRUE(Exists("windows/favorites/news/Alpha.url"));

    // An index without entries withdraws all, and the trash is emptied.
    Publish(kHeader);
    temp_.WriteFile("device/Zephyrate/Trash/x.001", "trash");
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(Rows(), Texts{kJob + kParsed});
    EXPECT_FALSE(Exists("Zephyrate/news/a.txt") || Exists("windows/favorites/news/Alpha.url") ||
                 Exists("Zephyrate/Trash/x.001"));
}

// A job whose index is refused or that ends before its last entry leaves the log and the
// device as they were, and says why in its rows and in the typed fetch failure.
TEST_F(JobDriverTest, AJobThatEndsEarlyLeavesTheLogAndTheDevice) {
    const std::string oldLog = temp_.WriteFile("logs/127.0.0.1.log", "U\nD\n\\old\n").string();
    temp_.WriteFile("device/old", "kept");
    const std::string files = "File: a.txt\nFile: b.txt\nFile: c.txt\nFile: d.txt\nFile: e.txt\n";
    Publish(kHeader + files, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"});
    // At /sub/index.txt the index whole, and files cut short; at /cut/index.txt an index
    // cut short.
    RawHttpServer raw([&](RawHttpServer::Connection& connection) {
        const bool index = connection.ReadRequest().starts_with("GET /sub/index.txt");
        const std::string body = index ? kHeader + files : kHeader;
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " +
                        std::to_string(body.size() + (index ? 0 : 1000)) + "\r\n\r\n" + body);
    });
    const std::string big = kHeader + std::string(ServerConfig::kMaxLength, 'z');
    temp_.WriteFile("www/big/index.txt", big);
    const std::string invalid = "Invalid configuration file at server. Please contact: ";
    const std::string failed = "Connection with server failed|1";
    using Kind = FetchFailure::Kind;
    const struct {
        std::string path;  // of the index; "raw..." at the raw server
        std::string email;
        int stop;  // the user's request at the third entry: 1 skip, -1 cancel all
        int code;
        std::string jobRow, lastRow;  // lastRow: of the entries, empty when there are none
        Kind fetch;
    } cases[] = {
        {"/sub/index.txt", "", 1, kJobFailed, "User abort|1", "e.txt|User abort|1", Kind::None},
        {"/sub/index.txt", "", -1, kJobCancelAll, "User abort|1", "e.txt|User abort|1", Kind::None},
        {"/bad/index.txt", "me@x.example", 0, kJobDone, invalid + "me@x.example|1", "", Kind::None},
        {"/bad/index.txt", "", 0, kJobDone, invalid + "your provider|1", "", Kind::None},
        {"/big/index.txt", "", 0, kJobFailed, failed, "", Kind::TooLarge},
        {"/none.txt", "", 0, kJobFailed, failed, "", Kind::HttpStatus},
        {"refused", "", 0, kJobFailed, failed, "", Kind::Refused},
        {"raw/cut/index.txt", "", 0, kJobFailed, failed, "", Kind::Incomplete},
        // The error is shown in a message box and on its row; later rows stay queued.
        {"raw/sub/index.txt", "", 0, kJobFailed, kParsed, "e.txt|Added to Sync Queue|3",
         Kind::None},
    };
    temp_.WriteFile("www/bad/index.txt", "Header: zephyrate v1.0\n" + files);  // a blank too many
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        surface_.OnEvent([&](const std::string& event) {
            if (event == "status:Checking file c.txt" && c.stop != 0) {
                c.stop > 0 ? console_.Control().SetCancelThisJob()
                           : console_.Control().SetCancelAll();
            }
        });
        const std::string address =
            c.path == "refused"         ? "127.0.0.1:" + std::to_string(FreeLoopbackPort())
            : c.path.starts_with("raw") ? raw.Url(c.path.substr(3)).substr(7)
                                        : site_.Address(c.path);
        EXPECT_EQ(Run(address, c.email), c.code);
        EXPECT_EQ(Rows().front(), kJob + c.jobRow);
        EXPECT_EQ(Rows().back(), c.lastRow.empty() ? kJob + c.jobRow : kEntry + c.lastRow);
        EXPECT_EQ(console_.LastFetchFailure().kind, c.fetch);
        EXPECT_EQ(Read(oldLog), "U\nD\n\\old\n");
        EXPECT_TRUE(Exists("old"));
        EXPECT_FALSE(Exists("Zephyrate/news/e.txt"));
    }
    surface_.OnEvent({});
    const Texts messages = surface_.EventsOf("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(Rows()[1],
              kEntry + "a.txt|Failed: " + messages[0].substr(10, messages[0].size() - 13) + ".|1");
}

TEST_F(JobDriverTest, ALogThatCannotBeWrittenFailsTheJobAfterItsFiles) {
    Publish(kHeader + "File: a.txt\n", {"a.txt"});
    job_.LogFileName = (temp_ / "none/x.log").string();
    EXPECT_EQ(Run(), kJobFailed);
    EXPECT_EQ(surface_.EventsOf("message").size(), 1u);
    EXPECT_EQ(Rows(), (Texts{kJob + "Failed: The update log " + job_.LogFileName +
                                 " could not be written: its folder " + (temp_ / "none").string() +
                                 " cannot be opened.|1",
                             kEntry + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0"}));
    EXPECT_NE(surface_.LastStatus(), "Synchronisation complete");
}

TEST_F(JobDriverTest, TheFilesOfAJobCarryTheLoginThatTheFetchEndedWith) {
    Publish(kHeader + "File: a.txt\n", {"a.txt"});
    TestSite& guarded = AnotherSite();
    guarded.ServeFolder(temp_ / "www");
    guarded.RequireLogin("user", "secret");
    guarded.Start();
    settings_.SetUserUsername("user");
    surface_.QueueLogin("user", "secret");
    EXPECT_EQ(Run(guarded.Address("/sub/index.txt")), kJobDone);
    EXPECT_EQ(surface_.EventsOf("login"), Texts{"1|user|"});
    EXPECT_EQ(Rows()[1], kEntry + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0");
    EXPECT_EQ(guarded.AcceptedCount("/sub/a.txt"), 1u);
}

}  // namespace
}  // namespace zephyrate::test
