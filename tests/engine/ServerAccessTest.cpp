// Fetching a job's index from a real test site with a Basic login: the login loop, the
// stored login, HTTP errors, and "Edit Login Info".
#include "engine/ServerAccess.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/SyncJob.h"
#include "platform/HttpFile.h"
#include "tests/support/ConsoleFixture.h"

namespace zephyrate::test {
namespace {

constexpr const char* kConnecting = "Connecting with server...";

class ServerAccessTest : public ConsoleFixture {
  protected:
    // What the job driver does: the status line first, then the fetch. Gives the reply's
    // status, or "none".
    std::string Fetch(const std::string& address) {
        surface_.SetStatusText(kConnecting);
        const std::unique_ptr<HttpFile> response = FetchServerConfig(console_, address, job_);
        std::uint32_t status = 0;
        if (!response || !response->QueryInfoStatusCode(status)) {
            return "none";
        }
        return std::to_string(status);
    }
    // The stored login as a second store reads it from the file: "user|password".
    std::string StoredLogin() const {
        SettingsStore again(settings_.Path());
        return again.UserUsername() + "|" + again.UserPassword();
    }

    SyncJob job_;
};

// An empty login is tried once, then the question (reason 1 even the first time,
// pre-filled with the stored login) until the server takes the login or the user cancels;
// each typed login is stored at once and kept in the job. After a typed login the address
// is opened again in a fresh pass, which the session's remembered login lets through.
TEST_F(ServerAccessTest, TheLoginIsAskedForUntilTakenOrCancelledAndEachOneIsStored) {
    const std::string served = "200";
    const std::string bob = "1|bob|stored";  // the question, pre-filled with the stored login
    const struct {
        std::string password;  // that the server wants of alice; empty: an empty login
        bool refuseOnce;       // the server forgets the login once, right after taking it
        Texts typed;           // alice's passwords at the questions, then Cancel
        Texts asked;           // each pre-filled with the login stored last
        std::string reply, stored;
        std::size_t accepted;  // requests that passed the login
    } cases[] = {
        {"", false, {}, {}, served, "bob|stored", 1},
        // The re-sent request and the fresh pass.
        {"pw", false, {"pw"}, {bob}, served, "alice|pw", 2},
        {"pw", false, {"one", "two"}, {bob, "1|alice|one", "1|alice|two"}, "none", "alice|two", 0},
        // The fresh pass's 401 is asked about, not met with the job's login silently.
        {"pw", true, {"pw", "pw"}, {bob, "1|alice|pw"}, served, "alice|pw", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        TestSite& site = sites_.emplace_back();
        site.RequireLogin(c.password.empty() ? "" : "alice", c.password);
        site.RefuseAfterNextAccept(c.refuseOnce ? 1 : 0);
        site.Start();
        settings_.SetUserUsername("bob");
        settings_.SetUserPassword("stored");
        for (const std::string& password : c.typed) {
            surface_.QueueLogin("alice", password);
        }
        surface_.Clear();
        job_ = SyncJob();
        EXPECT_EQ(Fetch(site.Address("/index.txt")), c.reply);
        EXPECT_EQ(surface_.EventsOf("login"), c.asked);
        EXPECT_EQ(StoredLogin(), c.stored);
        EXPECT_EQ(site.AcceptedCount("/index.txt"), c.accepted);
        EXPECT_EQ(surface_.EventsOf("status"), Texts{kConnecting});
    }
    EXPECT_EQ(job_.UserName + "|" + job_.Password, "alice|pw");
}

// An error status gives nothing and names itself on the status line; one below 400 is a
// response. Neither is asked about or tried again.
TEST_F(ServerAccessTest, AnErrorStatusGivesNothing) {
    site_.Start();
    EXPECT_EQ(Fetch(site_.Address("/status/500")), "none");
    EXPECT_EQ(surface_.LastStatus(), "HTTP Error 500");
    EXPECT_EQ(Fetch(site_.Address("/status/204")), "204");
    EXPECT_EQ(surface_.LastStatus(), kConnecting);
    EXPECT_EQ(site_.RequestCount(), 2u);
    EXPECT_EQ(surface_.EventsOf("login"), Texts{});
}

TEST_F(ServerAccessTest, EditLoginInfoAsksWithReasonTwoAndStoresOnlyWhatIsConfirmed) {
    settings_.SetUserUsername("dave");
    settings_.SetUserPassword("old");
    surface_.QueueLogin("erin", "new");
    EXPECT_TRUE(EditLoginInfo(surface_, settings_));
    EXPECT_FALSE(EditLoginInfo(surface_, settings_));
    EXPECT_EQ(StoredLogin(), "erin|new");
    EXPECT_EQ(surface_.EventsOf("login"), (Texts{"2|dave|old", "2|erin|new"}));
}

}  // namespace
}  // namespace zephyrate::test
