// Fetching a job's index from real servers on 127.0.0.1, Basic and Digest: the login loop,
// the stored login, HTTP errors, addresses that cannot be opened, and "Edit Login Info".
#include "engine/ServerAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/SyncJob.h"
#include "tests/support/LoginServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

using Strings = std::vector<std::string>;
constexpr const char* kConnecting = "Connecting with server...";

class ServerAccessTest : public ConsoleFixture {
  protected:
    // What the job driver does: the status line first, then the fetch. Gives the reply.
    std::string Fetch(const std::string& address) {
        surface_.SetStatusText(kConnecting);
        return LoginServer::Reply(FetchServerConfig(console_, address, job_).get());
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

    LoginServer& server_ = Keep<LoginServer>("alice", "wonderland");
    SyncJob job_;
};

// The same cases for the Basic area and the Digest area of the server.
class ServerLoginTest : public ServerAccessTest, public ::testing::WithParamInterface<const char*> {
  protected:
    const std::string page_ = GetParam() + std::string("/index.txt");
};

INSTANTIATE_TEST_SUITE_P(Schemes, ServerLoginTest, ::testing::Values("/basic", "/digest"),
                         [](const auto& info) { return std::string(info.param + 1); });

TEST_P(ServerLoginTest, AnEmptyLoginThatTheServerAcceptsNeedsNoQuestion) {
    server_.SetLogin("", "");
    Store("bob", "stored");
    EXPECT_EQ(Fetch(server_.Address(page_)), LoginServer::Served(page_));
    EXPECT_EQ(surface_.EventsOf("login"), Strings{});
    // The re-sent response itself is returned: no fresh pass after an empty login.
    EXPECT_EQ(server_.AcceptedCount(page_), 1u);
    EXPECT_EQ(StoredLogin(), "bob|stored");
}

TEST_P(ServerLoginTest, ATypedLoginIsStoredAndTheAddressOpenedOnceMore) {
    Store("alice", "old");
    surface_.QueueLogin("alice", "wonderland");
    EXPECT_EQ(Fetch(server_.Address(page_)), LoginServer::Served(page_));
    // Reason 1 even on the first question, pre-filled with the stored login; asked once.
    EXPECT_EQ(surface_.EventsOf("login"), Strings{"1|alice|old"});
    EXPECT_EQ(StoredLogin(), "alice|wonderland");
    EXPECT_EQ(job_.UserName + "|" + job_.Password, "alice|wonderland");
    // Accepted twice: the re-sent request, then the fresh pass that the session's
    // remembered login lets through.
    EXPECT_EQ(server_.AcceptedCount(page_), 2u);

    // The job's later downloads carry its login, even in a session that remembers nothing.
    InternetSession other;
    other.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
    const std::string file = GetParam() + std::string("/files/a.bin");
    EXPECT_EQ(LoginServer::Reply(other.OpenURL(server_.Url(file)).get()), "401 login please");
    EXPECT_TRUE(ApplySessionCredentials(other, job_));
    EXPECT_EQ(LoginServer::Reply(other.OpenURL(server_.Url(file)).get()),
              LoginServer::Served(file));
}

// Each question offers what was typed before: every typed login was stored at once, and
// Cancel keeps the last one.
TEST_P(ServerLoginTest, AWrongLoginIsAskedForAgainUntilCancelStoringEachOne) {
    Store("carol", "kept");
    surface_.QueueLogin("alice", "one");
    surface_.QueueLogin("alice", "two");
    EXPECT_EQ(Fetch(server_.Address(page_)), "none");
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"1|carol|kept", "1|alice|one", "1|alice|two"}));
    EXPECT_EQ(StoredLogin(), "alice|two");
    EXPECT_EQ(surface_.StatusTexts(), Strings{kConnecting});
}

TEST_P(ServerLoginTest, ALoginRefusedInTheFreshPassGoesStraightToTheQuestion) {
    // The server forgets the login once, right after it accepted it: the fresh pass's 401
    // is asked about, not met with the job's login silently.
    server_.RefuseAfterNextAccept(1);
    surface_.QueueLogin("alice", "wonderland");
    surface_.QueueLogin("alice", "wonderland");
    EXPECT_EQ(Fetch(server_.Address(page_)), LoginServer::Served(page_));
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"1||", "1|alice|wonderland"}));
    // The first re-send, the re-send in the second pass and the third pass.
    EXPECT_EQ(server_.AcceptedCount(page_), 3u);
}

TEST_F(ServerAccessTest, HttpErrorsShowTheirNumberAndReturnNothing) {
    for (const std::string code : {"500", "404", "400"}) {
        EXPECT_EQ(Fetch(server_.Address("/status/" + code)), "none");
        EXPECT_EQ(surface_.LastStatus(), "HTTP Error " + code);
    }
    // Below 400 is a response, also a status that is not 200.
    EXPECT_EQ(Fetch(server_.Address("/status/204")), "204 ");
    EXPECT_EQ(surface_.LastStatus(), kConnecting);
    EXPECT_EQ(surface_.EventsOf("login"), Strings{});
}

TEST_F(ServerAccessTest, AddressesThatCannotBeOpenedLeaveTheStatusLine) {
    const auto started = std::chrono::steady_clock::now();
    // A typed "http://" gets a second one in front: the host is then "http".
    EXPECT_EQ(Fetch(server_.Url("/basic")), "none");
    EXPECT_EQ(server_.Authorizations().size(), 0u) << "no request was made";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    EXPECT_EQ(Fetch("127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/index.txt"), "none");
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
    EXPECT_EQ(Fetch(raw.Url("/index.txt").substr(7)), "none");
    EXPECT_EQ(surface_.EventsOf("login"), Strings{}) << "the failed re-send ends the fetch";
    EXPECT_EQ(surface_.StatusTexts(), (Strings{kConnecting, kConnecting, kConnecting}));
}

TEST_F(ServerAccessTest, EditLoginInfoAsksWithReasonTwoAndStoresOnlyWhatIsConfirmed) {
    Store("dave", "old");
    surface_.QueueLogin("erin", "new");
    EXPECT_TRUE(EditLoginInfo(surface_, settings_));
    EXPECT_EQ(StoredLogin(), "erin|new");
    EXPECT_FALSE(EditLoginInfo(surface_, settings_));
    EXPECT_EQ(StoredLogin(), "erin|new");
    EXPECT_EQ(surface_.EventsOf("login"), (Strings{"2|dave|old", "2|erin|new"}));
}

}  // namespace
}  // namespace zephyrate::test
