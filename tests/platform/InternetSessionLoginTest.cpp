// Logins against real servers, Basic and Digest: per-request logins, the session login, the login
// that the session remembers per server, and the order in which they apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/LoginServer.h"

namespace zephyrate {
namespace {

using test::LoginServer;
constexpr const char* kRefused = "401 login please";

std::string Open(InternetSession& session, const LoginServer& server, const std::string& path) {
    return LoginServer::Reply(session.OpenURL(server.Url(path)).get());
}

// Sets the request's login and sends the request again; returns the new reply.
std::string Resend(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
    file.SendRequest();
    return LoginServer::Reply(&file);
}

void SetSessionLogin(InternetSession& session, const std::string& user,
                     const std::string& password) {
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_PASSWORD, password));
}

TEST(InternetSessionLoginTest, ARequestLoginAnswersBasicAndDigestOnResend) {
    LoginServer server("alice", "wonderland");
    for (const char* path : {"/basic", "/digest"}) {
        InternetSession session;
        auto file = session.OpenURL(server.Url(path));
        ASSERT_EQ(LoginServer::Reply(file.get()), kRefused) << path;
        EXPECT_EQ(Resend(*file, "alice", "looking-glass"), kRefused) << path;
        EXPECT_EQ(Resend(*file, "alice", "wonderland"), LoginServer::Served(path));
    }
    EXPECT_EQ(std::ranges::count(server.Authorizations(), "Basic YWxpY2U6d29uZGVybGFuZA=="), 1);
}

// What the engine does: empty login first, then what the user types until it works. The
// session then remembers the login for that server only, ranked between the request's own
// login and the session login, which every later request carries.
TEST(InternetSessionLoginTest, RequestLoginBeatsRememberedLoginBeatsSessionLogin) {
    LoginServer server("carol", "secret");
    LoginServer otherServer("carol", "secret");
    InternetSession session;
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Resend(*file, "", ""), kRefused);
    EXPECT_EQ(server.Authorizations().back(), "Basic Og==") << "an empty login is offered";
    ASSERT_EQ(Resend(*file, "carol", "guess"), kRefused);
    ASSERT_EQ(Resend(*file, "carol", "secret"), LoginServer::Served("/basic"));

    EXPECT_EQ(Open(session, server, "/digest"), LoginServer::Served("/digest"));
    EXPECT_EQ(Open(session, otherServer, "/basic"), kRefused);
    EXPECT_EQ(otherServer.Authorizations(), std::vector<std::string>{""})
        << "the login leaked to another server";

    SetSessionLogin(session, "carol", "wrong");
    EXPECT_EQ(Open(session, server, "/basic"), LoginServer::Served("/basic"))
        << "the remembered login comes before the session's";
    file = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Resend(*file, "carol", "wrong"), kRefused) << "the request's own login comes first";

    // The session login alone, where nothing is remembered; an empty one is no login.
    SetSessionLogin(session, "carol", "secret");
    for (const char* path : {"/basic", "/digest"}) {
        EXPECT_EQ(Open(session, otherServer, path), LoginServer::Served(path));
    }
    SetSessionLogin(session, "", "");
    EXPECT_EQ(Open(session, otherServer, "/basic"), kRefused);
}

}  // namespace
}  // namespace zephyrate
