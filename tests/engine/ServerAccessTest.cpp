// Fetching a job's index from real servers on 127.0.0.1, Basic and Digest: the empty login,
// the login question and its loop, the stored login, the fresh pass after a login, HTTP
// errors, addresses that cannot be opened, the session login for the job's downloads, and
// the "Edit Login Info" command.
#include "engine/ServerAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/Console.h"
#include "engine/SyncJob.h"
#include "platform/FolderDevice.h"
#include "platform/HttpFile.h"
#include "platform/InternetSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/LoginServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {
namespace {

using Strings = std::vector<std::string>;
constexpr const char* kConnecting = "Connecting with server...";

class ServerAccessTest : public ::testing::Test {
  protected:
    ServerAccessTest()
        : device_((temp_ / "device").string(), false),
          settings_((temp_ / "settings.reg").string()),
          console_(surface_, session_, device_, settings_) {
        session_.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
        session_.SetTimeouts(std::chrono::seconds(2), std::chrono::seconds(3));
    }

    // What the job driver does: the status line first, then the fetch.
    std::unique_ptr<HttpFile> Fetch(const std::string& address) {
        surface_.SetStatusText(kConnecting);
        return FetchServerConfig(console_, address, job_);
    }

    void Store(const std::string& user, const std::string& password) {
        settings_.SetUserUsername(user);
        settings_.SetUserPassword(password);
    }
    // The stored login as a second store reads it from the file: "user|password".
    std::string StoredLogin() const {
        SettingsStore again(settings_.Path());
        return again.UserUsername() + "|" + again.UserPassword();
    }

    static std::string Status(const HttpFile& file) {
        std::uint32_t status = 0;
        return file.QueryInfoStatusCode(status) ? std::to_string(status) : "none";
    }
    static std::string ReadAll(HttpFile& file) {
        std::string all;
        char chunk[4096];
        while (std::size_t n = file.Read(chunk, sizeof chunk)) {
            all.append(chunk, n);
        }
        return all;
    }

    TempFolder temp_;
    LoginServer server_{"alice", "wonderland"};  // made before the session, so it ends after
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
    Console console_;
    SyncJob job_;
};

// The same cases for the Basic area and the Digest area of the server.
class ServerLoginTest : public ServerAccessTest, public ::testing::WithParamInterface<const char*> {
  protected:
    std::string Page(const char* name = "/index.txt") const {
        return GetParam() + std::string(name);
    }
};

INSTANTIATE_TEST_SUITE_P(Schemes, ServerLoginTest, ::testing::Values("/basic", "/digest"),
                         [](const auto& info) { return std::string(info.param + 1); });

TEST_P(ServerLoginTest, AnEmptyLoginThatTheServerAcceptsNeedsNoQuestion) {
    server_.SetLogin("", "");
    Store("bob", "stored");
    auto response = Fetch(server_.Address(Page()));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(Status(*response), "200");
    EXPECT_EQ(ReadAll(*response), LoginServer::Body(Page()));
    EXPECT_EQ(surface_.EventsOf("login"), Strings{});
    // The re-sent response itself is returned: no fresh pass after an empty login.
    EXPECT_EQ(server_.AcceptedCount(Page()), 1u);
    EXPECT_EQ(job_.UserName + "|" + job_.Password, "|");
    EXPECT_EQ(StoredLogin(), "bob|stored");
    EXPECT_EQ(surface_.StatusTexts(), Strings{kConnecting});
}

TEST_P(ServerLoginTest, ATypedLoginIsStoredAndTheAddressOpenedOnceMore) {
    Store("alice", "old");
    surface_.QueueLogin("alice", "wonderland");
    auto response = Fetch(server_.Address(Page()));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(Status(*response), "200");
    EXPECT_EQ(ReadAll(*response), LoginServer::Body(Page()));
    // Reason 1 even on the first question, pre-filled with the stored login; asked once.
    EXPECT_EQ(surface_.EventsOf("login"), Strings{"1|alice|old"});
    EXPECT_EQ(StoredLogin(), "alice|wonderland");
    EXPECT_EQ(job_.UserName + "|" + job_.Password, "alice|wonderland");
    // Accepted twice: the re-sent request, then the fresh pass that the session's
    // remembered login lets through.
    EXPECT_EQ(server_.AcceptedCount(Page()), 2u);
    EXPECT_EQ(server_.Requests().back().accepted, true);
}

TEST_P(ServerLoginTest, AWrongLoginIsAskedForAgainUntilCancelStoringEachOne) {
    surface_.QueueLogin("alice", "one");
    surface_.QueueLogin("alice", "two");
    EXPECT_EQ(Fetch(server_.Address(Page())), nullptr);
    // Each question offers what was typed before: every typed login was stored at once.
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"1||", "1|alice|one", "1|alice|two"}));
    EXPECT_EQ(StoredLogin(), "alice|two");
    EXPECT_EQ(server_.AcceptedCount(Page()), 0u);
    EXPECT_EQ(surface_.StatusTexts(), Strings{kConnecting});
}

TEST_P(ServerLoginTest, CancelAtOnceKeepsTheStoredLogin) {
    Store("carol", "kept");
    EXPECT_EQ(Fetch(server_.Address(Page())), nullptr);
    EXPECT_EQ(surface_.EventsOf("login"), Strings{"1|carol|kept"});
    EXPECT_EQ(StoredLogin(), "carol|kept");
    EXPECT_EQ(job_.UserName + "|" + job_.Password, "|");
}

TEST_P(ServerLoginTest, ALoginRefusedInTheFreshPassGoesStraightToTheQuestion) {
    // The server forgets the login once, right after it accepted it: the fresh pass's 401
    // is asked about, not met with the job's login silently.
    server_.RefuseAfterNextAccept(1);
    surface_.QueueLogin("alice", "wonderland");
    surface_.QueueLogin("alice", "wonderland");
    auto response = Fetch(server_.Address(Page()));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(ReadAll(*response), LoginServer::Body(Page()));
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"1||", "1|alice|wonderland"}));
    // The first re-send, the re-send in the second pass and the third pass.
    EXPECT_EQ(server_.AcceptedCount(Page()), 3u);
}

TEST_P(ServerLoginTest, TheJobsDownloadsCarryTheLoginTheFetchEndedWith) {
    surface_.QueueLogin("alice", "wonderland");
    ASSERT_NE(Fetch(server_.Address(Page())), nullptr);
    EXPECT_TRUE(ApplySessionCredentials(session_, job_));
    auto download = session_.OpenURL(server_.Url(Page("/files/a.bin")));
    EXPECT_EQ(Status(*download), "200");
    EXPECT_EQ(ReadAll(*download), LoginServer::Body(Page("/files/a.bin")));
    EXPECT_NE(server_.Requests().back().authorization.find(
                  GetParam() == std::string("/basic") ? "Basic " : "username=\"alice\""),
              std::string::npos);

    // The session login alone, in a session that remembers nothing of this server.
    InternetSession other;
    other.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
    EXPECT_EQ(Status(*other.OpenURL(server_.Url(Page("/files/b.bin")))), "401");
    EXPECT_TRUE(ApplySessionCredentials(other, job_));
    EXPECT_EQ(Status(*other.OpenURL(server_.Url(Page("/files/b.bin")))), "200");
}

TEST_F(ServerAccessTest, HttpErrorsShowTheirNumberAndReturnNothing) {
    EXPECT_EQ(Fetch(server_.Address("/status/500")), nullptr);
    EXPECT_EQ(surface_.LastStatus(), "HTTP Error 500");
    EXPECT_EQ(Fetch(server_.Address("/nothing-here")), nullptr);
    EXPECT_EQ(surface_.LastStatus(), "HTTP Error 404");
    EXPECT_EQ(Fetch(server_.Address("/status/400")), nullptr);
    EXPECT_EQ(surface_.LastStatus(), "HTTP Error 400");
    // Below 400 is a response, also a status that is not 200.
    auto noContent = Fetch(server_.Address("/status/204"));
    ASSERT_NE(noContent, nullptr);
    EXPECT_EQ(Status(*noContent), "204");
    EXPECT_EQ(surface_.LastStatus(), kConnecting);
    EXPECT_EQ(surface_.EventsOf("login"), Strings{});
}

TEST_F(ServerAccessTest, AddressesThatCannotBeOpenedLeaveTheStatusLine) {
    const auto started = std::chrono::steady_clock::now();
    // A typed "http://" gets a second one in front: the host is then "http".
    EXPECT_EQ(Fetch(server_.Url("/basic")), nullptr);
    EXPECT_EQ(server_.Requests().size(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    EXPECT_EQ(Fetch("127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/index.txt"), nullptr);
    EXPECT_EQ(surface_.StatusTexts(), (Strings{kConnecting, kConnecting}));
}

TEST_F(ServerAccessTest, ARequestThatCannotBeSentAgainReturnsNothing) {
    // Asks for a login, then drops the connection of any request that offers one.
    RawHttpServer raw([](RawHttpServer::Connection& c) {
        for (std::string request; !(request = c.ReadRequest()).empty();) {
            if (request.find("Authorization:") != std::string::npos) {
                c.Reset();
                return;
            }
            c.Send(
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"z\"\r\n"
                "Content-Length: 0\r\n\r\n");
        }
    });
    surface_.QueueLogin("alice", "wonderland");
    EXPECT_EQ(Fetch(raw.Url("/index.txt").substr(7)), nullptr);
    EXPECT_EQ(surface_.EventsOf("login"), Strings{});
    EXPECT_EQ(surface_.StatusTexts(), Strings{kConnecting});
}

TEST_F(ServerAccessTest, EditLoginInfoAsksWithReasonTwoAndStoresOnlyWhatIsConfirmed) {
    Store("dave", "old");
    surface_.QueueLogin("erin", "new");
    EXPECT_TRUE(EditLoginInfo(surface_, settings_));
    EXPECT_EQ(StoredLogin(), "erin|new");
    EXPECT_FALSE(EditLoginInfo(surface_, settings_));
    EXPECT_EQ(StoredLogin(), "erin|new");
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"2|dave|old", "2|erin|new"}));
    EXPECT_EQ(server_.Requests().size(), 0u);

    EXPECT_EQ(LoginReasonText(kLoginInvalid), "The credentials you supplied are invalid.");
    EXPECT_EQ(LoginReasonText(kLoginEdit), "Please enter the login information.");
    EXPECT_EQ(LoginReasonText(0), "");
}

}  // namespace
}  // namespace zephyrate::test
