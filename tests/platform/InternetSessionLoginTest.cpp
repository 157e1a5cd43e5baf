// Logins against real servers, Basic and Digest: per-request logins, the session login, the login
// that the session remembers per server, and the order in which they apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/InternetSession.h"
#include "tests/support/LoginServer.h"

namespace zephyrate {
namespace {

using test::LoginServer;

std::uint32_t Status(const HttpFile& file) {
    std::uint32_t status = 0;
    EXPECT_TRUE(file.QueryInfoStatusCode(status));
    return status;
}

std::string ReadAll(HttpFile& file) {
    std::string all;
    char chunk[4096];
    while (std::size_t n = file.Read(chunk, sizeof chunk)) {
        all.append(chunk, n);
    }
    return all;
}

// Sets the request's login and sends the request again; returns the new status.
std::uint32_t Resend(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
    file.SendRequest();
    return Status(file);
}

TEST(InternetSessionLoginTest, ARequestLoginAnswersBasicAndDigestOnResend) {
    LoginServer server("alice", "wonderland");
    for (const char* path : {"/basic", "/digest"}) {
        InternetSession session;
        auto file = session.OpenURL(server.Url(path));
        ASSERT_EQ(Status(*file), 401u) << path;

        EXPECT_EQ(Resend(*file, "alice", "looking-glass"), 401u)
            << path << ": a wrong password is not accepted";

        EXPECT_EQ(Resend(*file, "alice", "wonderland"), 200u) << path;
        EXPECT_EQ(ReadAll(*file), LoginServer::Body(path));
    }
    auto seen = server.Authorizations();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Basic YWxpY2U6d29uZGVybGFuZA=="), seen.end());
}

TEST(InternetSessionLoginTest, AnEmptyLoginIsOfferedOnResend) {
    LoginServer server("", "");
    InternetSession session;
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u);
    EXPECT_EQ(Resend(*file, "", ""), 200u);
    EXPECT_EQ(server.Authorizations().back(), "Basic Og==");
}

TEST(InternetSessionLoginTest, TheSessionLoginIsCarriedByLaterRequests) {
    LoginServer server("bob", "builder");
    InternetSession session;
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 401u);
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_USERNAME, "bob"));
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_PASSWORD, "builder"));
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 200u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/digest"))), 200u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic/other"))), 200u);
    // An empty session login is no login.
    session.SetOption(INTERNET_OPTION_USERNAME, "");
    session.SetOption(INTERNET_OPTION_PASSWORD, "");
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 401u);
}

TEST(InternetSessionLoginTest, TheLoginLoopEndsWithAFreshOpenThatNeedsNoQuestion) {
    LoginServer server("carol", "secret");
    LoginServer otherServer("carol", "secret");
    InternetSession session;

    // What the engine does: empty login first, then what the user types until it works.
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u);
    ASSERT_EQ(Resend(*file, "", ""), 401u);
    ASSERT_EQ(Resend(*file, "carol", "guess"), 401u);
    ASSERT_EQ(Resend(*file, "carol", "secret"), 200u);
    file.reset();

    // The remembered login serves the same server (also other paths and schemes of
    // challenge)...
    auto fresh = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Status(*fresh), 200u);
    EXPECT_EQ(ReadAll(*fresh), LoginServer::Body("/basic"));
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/digest"))), 200u);
    // ...but not another server.
    EXPECT_EQ(Status(*session.OpenURL(otherServer.Url("/basic"))), 401u);
    for (const std::string& sent : otherServer.Authorizations()) {
        EXPECT_EQ(sent, "") << "the login leaked to another server";
    }
}

TEST(InternetSessionLoginTest, RequestLoginBeatsRememberedLoginBeatsSessionLogin) {
    LoginServer server("dave", "right");
    InternetSession session;
    session.SetOption(INTERNET_OPTION_USERNAME, "dave");
    session.SetOption(INTERNET_OPTION_PASSWORD, "wrong");
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u) << "the session login is wrong";
    ASSERT_EQ(Resend(*file, "dave", "right"), 200u);

    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 200u)
        << "the remembered login comes before the session's";

    auto wrongAgain = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Resend(*wrongAgain, "dave", "wrong"), 401u) << "the request's own login comes first";
}

}  // namespace
}  // namespace zephyrate
