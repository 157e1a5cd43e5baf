// Whole jobs end to end: a real folder server for the index and its files, a real device
// folder, a real settings file and update log, and a recording console.
#include "engine/JobDriver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Console.h"
#include "engine/SyncJob.h"
#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

constexpr const char* kParsed = "Succesfully parsed server configuration file|0";
constexpr const char* kHeader = "Header:zephyrate v1.0\nCEFolder: \\news\\\n";

class JobDriverTest : public ::testing::Test {
  protected:
    JobDriverTest()
        : www_(temp_ / "www"),
          device_((temp_ / "device").string(), false),
          settings_((temp_ / "settings.reg").string()),
          console_(surface_, session_, device_, settings_) {
        fs::create_directories(temp_ / "device");
        fs::create_directories(www_);
        fs::create_directories(temp_ / "logs");
        temp_.WriteFile("outside/secret.txt", "secret");
        session_.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
        session_.SetTimeouts(std::chrono::seconds(2), std::chrono::seconds(3));
        settings_.SetPrePath("\\Zephyrate");
    }

    void SetUp() override {
        RAPIINIT init;
        ASSERT_GE(device_.CeRapiInitEx(init), 0);
        ASSERT_EQ(device_.WaitForRapiInit(init, 2000), WAIT_OBJECT_0);
    }

    // Serves index (at /sub/index.txt) and the files next to it.
    void Publish(const std::string& index, const std::vector<std::string>& files = {}) {
        temp_.WriteFile("www/sub/index.txt", index);
        for (const std::string& name : files) {
            temp_.WriteFile("www/sub/" + name, "content of " + name);
        }
    }

    SyncJob Job(std::string address = {}) {
        SyncJob job;
        job.Url = address.empty() ? "127.0.0.1:" + std::to_string(server_.Port()) + "/sub/index.txt"
                                  : address;
        job.LogFileName = LogPath().string();
        return job;
    }

    int Run(std::string address = {}) {
        SyncJob job = Job(std::move(address));
        return RunJob(console_, job);
    }

    // A fresh job list and record for the next run, as a new run starts with.
    void NextRun() {
        console_.Jobs().DeleteAllRows();
        surface_.Clear();
    }

    template <typename Server, typename... Args>
    Server& Keep(Args&&... args) {
        auto server = std::make_shared<Server>(std::forward<Args>(args)...);
        servers_.push_back(server);
        return *server;
    }

    fs::path LogPath() const { return temp_ / "logs" / "127.0.0.1.log"; }
    std::string Log() const { return TempFolder::ReadFile(LogPath()); }
    // The log without its time line.
    std::string LogBody() const {
        const std::string log = Log();
        return log.substr(log.find('\n') + 1);
    }
    bool OnDevice(std::string_view relative) const {
        return fs::exists(temp_ / "device" / relative);
    }

    TempFolder temp_;
    const fs::path www_;
    std::vector<std::shared_ptr<void>> servers_;  // outlive the session's idle connections
    FolderServer& server_ = Keep<FolderServer>(www_);
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
    Console console_;
};

TEST_F(JobDriverTest, ACompleteJobPlacesFilesAndALaterJobRemovesWhatWasWithdrawn) {
    Publish(std::string(kHeader) + "Splash:Welcome, reader \nFile: a.txt, link:Alpha\n" +
                "File: docs/b.txt, exe:Bee\n",
            {"a.txt", "docs/b.txt"});

    ASSERT_EQ(Run(), kJobDone);
    const std::string object = "Kestrelwynd NV: ";
    EXPECT_EQ(surface_.Rows(),
              (Rows{"Kestrelwynd NV|" + std::string(kParsed),
                    object + "a.txt|Added: \\Zephyrate\\news\\a.txt.|0",
                    object + "docs/b.txt|Added: \\Zephyrate\\news\\docs/b.txt.|0"}));
    EXPECT_EQ(surface_.EventsOf("detail"),
              (Rows{"1|", "2|Kestrelwynd NV", "3|support@kestrelwynd.example",
                    "4|http://www.kestrelwynd.example/", "1|Welcome, reader "}));
    EXPECT_EQ(surface_.EventsOf("logo"), Rows{"131"});
    EXPECT_EQ(surface_.EventsOf("link"), Rows{"http://www.kestrelwynd.example/"});
    const Rows status = surface_.StatusTexts();
    EXPECT_EQ(status.front(), "Connecting with server...");
    EXPECT_EQ(status[1], "Retrieving file index from server...");
    EXPECT_EQ(status[2], "Checking file a.txt");
    EXPECT_EQ(status.back(), "Synchronisation complete");
    EXPECT_EQ(TempFolder::ReadFile(temp_ / "device/Zephyrate/news/docs/b.txt"),
              "content of docs/b.txt");

    const std::string log = Log();
    EXPECT_TRUE(log.starts_with("Update at ")) << log;
    EXPECT_EQ(LogBody(),
              "Do not edit this file.\n"
              "\\Zephyrate\\news\\a.txt\n\\windows\\favorites\\news\\Alpha.url\n"
              "\\Zephyrate\\news\\docs/b.txt\n\\windows\\Start Menu\\Programs\\Bee.lnk\n");

    NextRun();
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(surface_.Rows()[2],
              object + "docs/b.txt|Checked: \\Zephyrate\\news\\docs/b.txt already up to date.|0");

    // The provider withdraws b.txt: its file and shortcut go, a.txt and its favorite stay.
    NextRun();
    Publish(std::string(kHeader) + "File: a.txt, link:Alpha\n");
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_FALSE(OnDevice("Zephyrate/news/docs/b.txt"));
    EXPECT_FALSE(OnDevice("windows/Start Menu/Programs/Bee.lnk"));
    EXPECT_TRUE(OnDevice("Zephyrate/news/a.txt"));
    EXPECT_TRUE(OnDevice("windows/favorites/news/Alpha.url"));
    EXPECT_EQ(LogBody(),
              "Do not edit this file.\n"
              "\\Zephyrate\\news\\a.txt\n\\windows\\favorites\\news\\Alpha.url\n");
}

TEST_F(JobDriverTest, AFailedEntryThatIsStillListedKeepsItsCopyUntilTheProviderWithdrawsIt) {
    Publish(std::string(kHeader) + "File: a.txt, exe:Alpha\nFile: b.txt\n", {"a.txt", "b.txt"});
    ASSERT_EQ(Run(), kJobDone);

    // A one-off server error for a.txt: the next entry still runs, nothing is deleted.
    fs::remove(www_ / "sub/a.txt");
    NextRun();
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(surface_.Rows()[1], "Kestrelwynd NV: a.txt|Failed: HTTP ERROR CODE: 404.|1");
    EXPECT_EQ(surface_.Rows()[2],
              "Kestrelwynd NV: b.txt|Checked: \\Zephyrate\\news\\b.txt already up to date.|0");
    EXPECT_TRUE(OnDevice("Zephyrate/news/a.txt"));
    EXPECT_TRUE(OnDevice("windows/Start Menu/Programs/Alpha.lnk"));
    EXPECT_NE(Log().find("\\Zephyrate\\news\\a.txt\n"), std::string::npos);
    EXPECT_NE(Log().find("Alpha.lnk\n"), std::string::npos);

    NextRun();
    Publish(std::string(kHeader) + "File: b.txt\n");
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_FALSE(OnDevice("Zephyrate/news/a.txt"));
    EXPECT_FALSE(OnDevice("windows/Start Menu/Programs/Alpha.lnk"));
    EXPECT_EQ(LogBody(), "Do not edit this file.\n\\Zephyrate\\news\\b.txt\n");
}

TEST_F(JobDriverTest, TheHeaderIsCheckedInItsExactFormAndARejectedIndexTouchesNothing) {
    Publish(std::string(kHeader) + "File: a.txt\n", {"a.txt"});
    ASSERT_EQ(Run(), kJobDone);
    const std::string log = Log();

    struct Case {
        std::string header;
        std::string email;
    };
    const Case rejected[] = {
        {"Header: zephyrate v1.0", "support@kestrelwynd.example"},
        {"Header:zephyrate v1.0 ", "support@kestrelwynd.example"},
        {"Header:zephyrate v1.1", "news@provider.example"},
        {"", ""},
    };
    for (const Case& c : rejected) {
        SCOPED_TRACE(c.header + "|" + c.email);
        NextRun();
        Publish(c.header + "\nCEFolder:news\nFile: b.txt\n", {"b.txt"});
        SyncJob job = Job();
        job.ProviderEmail = c.email;
        EXPECT_EQ(RunJob(console_, job), kJobDone);
        const std::string contact = c.email.empty() ? "your provider" : c.email;
        EXPECT_EQ(surface_.Rows(),
                  Rows{"Kestrelwynd NV|Invalid configuration file at server. Please contact: " +
                       contact + "|1"});
        EXPECT_EQ(surface_.LastStatus(), "Retrieving file index from server...");
        EXPECT_EQ(Log(), log);
        EXPECT_TRUE(OnDevice("Zephyrate/news/a.txt"));
        EXPECT_FALSE(OnDevice("Zephyrate/news/b.txt"));
    }

    NextRun();
    Publish("Header:ZEPHYRATE V1.0\nCEFolder:news\nFile: b.txt\n");
    EXPECT_EQ(Run(), kJobDone);
    EXPECT_EQ(surface_.Rows()[0], "Kestrelwynd NV|" + std::string(kParsed));
    EXPECT_TRUE(OnDevice("Zephyrate/news/b.txt"));
    EXPECT_FALSE(OnDevice("Zephyrate/news/a.txt"));
}

TEST_F(JobDriverTest, EntriesFollowTheIndexLinesFilesFirst) {
    Publish(std::string(kHeader) + "Url: http://127.0.0.1:" + std::to_string(server_.Port()) +
                "/sub/u.txt\n" +
                "File: , exe:Reader\n"
                "File: docs/a.pdf, exe:Reader, exe:Viewer, LINK: Spaced\n",
            {"u.txt", "docs/a.pdf"});
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(surface_.Rows(),
              (Rows{"Kestrelwynd NV|" + std::string(kParsed),
                    "Kestrelwynd NV: docs/a.pdf|Added: \\Zephyrate\\news\\docs/a.pdf.|0",
                    "Kestrelwynd NV: u.txt|Added: \\Zephyrate\\news\\u.txt.|0"}));
    EXPECT_TRUE(OnDevice("windows/Start Menu/Programs/Viewer.lnk"));
    EXPECT_FALSE(OnDevice("windows/Start Menu/Programs/Reader.lnk"));
    EXPECT_TRUE(OnDevice("windows/favorites/news/ Spaced.url"));
}

TEST_F(JobDriverTest, ASkipDuringTheThirdOfFiveEntriesStopsTheJobAndLeavesTheLog) {
    std::string index = kHeader;
    for (char name = 'a'; name <= 'e'; ++name) {
        index += std::string("File: ") + name + ".txt\n";
    }
    Publish(index, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"});
    temp_.WriteFile("logs/127.0.0.1.log", "Update at then\nDo not edit this file.\n\\old\n");
    temp_.WriteFile("device/old", "kept");

    for (int code : {kJobFailed, kJobCancelAll}) {
        SCOPED_TRACE(code);
        fs::remove_all(temp_ / "device/Zephyrate");
        NextRun();
        surface_.OnEvent([&](const std::string& event) {
            if (event == "status:Checking file c.txt") {
                code == kJobCancelAll ? console_.Control().SetCancelAll()
                                      : console_.Control().SetCancelThisJob();
            }
        });
        EXPECT_EQ(Run(), code);
        surface_.OnEvent({});
        const Rows rows = surface_.Rows();
        ASSERT_EQ(rows.size(), 6u);
        EXPECT_EQ(rows[0], "Kestrelwynd NV|User abort|1");
        EXPECT_EQ(rows[2], "Kestrelwynd NV: b.txt|Added: \\Zephyrate\\news\\b.txt.|0");
        for (int row = 3; row <= 5; ++row) {
            EXPECT_TRUE(rows[row].ends_with("|User abort|1")) << rows[row];
        }
        EXPECT_FALSE(OnDevice("Zephyrate/news/d.txt"));
        EXPECT_EQ(Log(), "Update at then\nDo not edit this file.\n\\old\n");
        EXPECT_TRUE(OnDevice("old"));
    }
}

TEST_F(JobDriverTest, AStopRequestBeforeTheFetchEndsTheJobWithoutARequest) {
    Publish(std::string(kHeader));
    console_.Control().SetCancelThisJob();
    EXPECT_EQ(Run(), kJobFailed);
    EXPECT_EQ(surface_.Rows(), Rows{"Kestrelwynd NV|User abort|1"});
    EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(JobDriverTest, AnIndexWithoutEntriesEmptiesTheDeviceOfThePreviousLogsObjects) {
    Publish(std::string(kHeader) + "File: a.txt, link:Alpha\n", {"a.txt"});
    ASSERT_EQ(Run(), kJobDone);
    temp_.WriteFile("device/Zephyrate/Trash/x.001", "trash");

    NextRun();
    Publish(std::string(kHeader));
    ASSERT_EQ(Run(), kJobDone);
    EXPECT_EQ(surface_.Rows(), Rows{"Kestrelwynd NV|" + std::string(kParsed)});
    EXPECT_EQ(surface_.LastStatus(), "Synchronisation complete");
    EXPECT_FALSE(OnDevice("Zephyrate/news/a.txt"));
    EXPECT_FALSE(OnDevice("windows/favorites/news/Alpha.url"));
    EXPECT_FALSE(OnDevice("Zephyrate/Trash/x.001"));
    EXPECT_EQ(LogBody(), "Do not edit this file.\n");
}

TEST_F(JobDriverTest, AFetchThatFailsEndsTheJobWithTheServerRowAndKeepsTheLog) {
    temp_.WriteFile("logs/127.0.0.1.log", "Update at then\nDo not edit this file.\n\\old\n");
    temp_.WriteFile("device/old", "kept");
    struct Case {
        std::string address;
        std::string lastStatus;
    };
    const Case cases[] = {
        {"127.0.0.1:" + std::to_string(server_.Port()) + "/missing.txt", "HTTP Error 404"},
        {"127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/index.txt",
         "Connecting with server..."},
        {"http://127.0.0.1:" + std::to_string(server_.Port()) + "/sub/index.txt",
         "Connecting with server..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        NextRun();
        EXPECT_EQ(Run(c.address), kJobFailed);
        EXPECT_EQ(surface_.Rows(), Rows{"Kestrelwynd NV|Connection with server failed|1"});
        EXPECT_EQ(surface_.LastStatus(), c.lastStatus);
        EXPECT_EQ(Log(), "Update at then\nDo not edit this file.\n\\old\n");
        EXPECT_TRUE(OnDevice("old"));
    }
}

TEST_F(JobDriverTest, TheFilesOfAJobCarryTheLoginThatTheFetchEndedWith) {
    TestHttpServer& server = Keep<TestHttpServer>();
    server.Server().Get("/.*", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") != "Basic dXNlcjpzZWNyZXQ=") {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"zephyrate\"");
        } else if (req.path == "/sub/index.txt") {
            res.set_content(std::string(kHeader) + "File: a.txt\n", "text/plain");
        } else if (req.path == "/sub/a.txt") {
            res.set_header("Last-Modified", HttpDateOf(1600000000));
            res.set_content("private", "text/plain");
        } else {
            res.status = 404;
        }
    });
    server.Start();
    settings_.SetUserUsername("user");
    settings_.SetUserPassword("wrong");
    surface_.QueueLogin("user", "secret");

    EXPECT_EQ(Run("127.0.0.1:" + std::to_string(server.Port()) + "/sub/index.txt"), kJobDone);
    EXPECT_EQ(surface_.EventsOf("login"), Rows{"1|user|wrong"});
    EXPECT_EQ(surface_.Rows()[1], "Kestrelwynd NV: a.txt|Added: \\Zephyrate\\news\\a.txt.|0");
    EXPECT_EQ(TempFolder::ReadFile(temp_ / "device/Zephyrate/news/a.txt"), "private");
    EXPECT_EQ(settings_.UserPassword(), "secret");
}

TEST_F(JobDriverTest, AServerErrorIsShownByItsNumber) {
    TestHttpServer& server = Keep<TestHttpServer>();
    server.Server().Get("/.*", [](const auto&, auto& res) {
        res.status = 500;
        res.set_content("broken", "text/plain");
    });
    server.Start();
    EXPECT_EQ(Run("127.0.0.1:" + std::to_string(server.Port()) + "/index.txt"), kJobFailed);
    EXPECT_EQ(surface_.LastStatus(), "HTTP Error 500");
    EXPECT_EQ(surface_.Rows(), Rows{"Kestrelwynd NV|Connection with server failed|1"});
}

TEST_F(JobDriverTest, ErrorsDuringTheEntriesOrTheLogEndInAMessageBox) {
    // A download that breaks off half way.
    RawHttpServer raw([](RawHttpServer::Connection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.find("GET /sub/index.txt") == 0) {
            const std::string index = std::string(kHeader) + "File: a.txt\nFile: b.txt\n";
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(index.size()) +
                            "\r\nConnection: close\r\n\r\n" + index);
        } else {
            connection.Send(
                "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n"
                "Last-Modified: Mon, 05 Jan 2004 07:03:09 GMT\r\n\r\n" +
                std::string(5000, 'x'));
        }
    });
    temp_.WriteFile("logs/127.0.0.1.log", "Update at then\nDo not edit this file.\n\\old\n");
    EXPECT_EQ(Run("127.0.0.1:" + std::to_string(raw.Port()) + "/sub/index.txt"), kJobFailed);
    const Rows messages = surface_.EventsOf("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("Zephyrate|")) << messages[0];
    EXPECT_TRUE(messages[0].ends_with("|ok")) << messages[0];
    EXPECT_EQ(surface_.Rows()[0], "Kestrelwynd NV|" + std::string(kParsed));
    EXPECT_EQ(surface_.Rows()[2], "Kestrelwynd NV: b.txt|Added to Sync Queue|3");
    EXPECT_EQ(Log(), "Update at then\nDo not edit this file.\n\\old\n");

    // A log that cannot be written: its folder is a file.
    NextRun();
    Publish(std::string(kHeader) + "File: a.txt\n", {"a.txt"});
    SyncJob job = Job();
    job.LogFileName = temp_.WriteFile("not-a-folder", "").string() + "/x.log";
    EXPECT_EQ(RunJob(console_, job), kJobFailed);
    ASSERT_EQ(surface_.EventsOf("message").size(), 1u);
    EXPECT_NE(surface_.EventsOf("message")[0].find("x.log"), std::string::npos);
    EXPECT_EQ(surface_.Rows()[1], "Kestrelwynd NV: a.txt|Added: \\Zephyrate\\news\\a.txt.|0");
    EXPECT_NE(surface_.LastStatus(), "Synchronisation complete");
}

TEST_F(JobDriverTest, BadIndexesRunToAClearEnd) {
    std::string binary(1 << 20, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    std::string noisy = kHeader;
    for (int i = 0; i < 300; ++i) {
        noisy += "noise " + std::to_string(i) + " File:gone/" + std::to_string(i) + ".txt #c\n";
    }
    const std::string big = std::string(kHeader) + std::string(100u << 20, 'z');

    struct Case {
        std::string name;
        std::string body;
        std::string jobRow;
        std::size_t rows;
    };
    const std::string invalid =
        "Invalid configuration file at server. Please contact: support@kestrelwynd.example|1";
    const Case cases[] = {
        {"empty", "", invalid, 1},
        {"binary", binary, invalid, 1},
        {"keys inside other lines", noisy, kParsed, 301},
        {"100 MB", big, kParsed, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NextRun();
        Publish(c.body);
        const auto start = std::chrono::steady_clock::now();
        Run();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        const Rows rows = surface_.Rows();
        ASSERT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows[0], "Kestrelwynd NV|" + c.jobRow);
        if (c.rows > 1) {
            EXPECT_EQ(rows[300], "Kestrelwynd NV: gone/299.txt|Failed: HTTP ERROR CODE: 404.|1");
        }
    }
}

}  // namespace
}  // namespace zephyrate::test
