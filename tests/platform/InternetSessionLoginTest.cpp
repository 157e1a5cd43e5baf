// Logins against a real server (engine/ tests the login loop with Basic and Digest): the
// order in which the request's login, the login the session remembers per server and
// the session login apply, and proxies that the session's settings choose.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/LoginServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

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

TEST(InternetSessionLoginTest, RequestLoginBeatsRememberedLoginBeatsSessionLogin) {
    LoginServer server("carol", "secret");
    LoginServer otherServer("carol", "secret");
    InternetSession session;
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Resend(*file, "carol", "guess"), kRefused);
    ASSERT_EQ(Resend(*file, "carol", "secret"), LoginServer::Served("/basic"));

    // Remembered for that server only.
    EXPECT_EQ(Open(session, server, "/digest"), LoginServer::Served("/digest"));
    EXPECT_EQ(Open(session, otherServer, "/basic"), kRefused);
    EXPECT_EQ(otherServer.Authorizations(), std::vector<std::string>{""});
    SetSessionLogin(session, "carol", "wrong");
    EXPECT_EQ(Open(session, server, "/basic"), LoginServer::Served("/basic"));
    file = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Resend(*file, "carol", "wrong"), kRefused) << "the request's own login comes first";

    // The session login alone, where nothing is remembered; an empty one is no login.
    SetSessionLogin(session, "carol", "secret");
    EXPECT_EQ(Open(session, otherServer, "/basic"), LoginServer::Served("/basic"));
    SetSessionLogin(session, "", "");
    EXPECT_EQ(Open(session, otherServer, "/digest"), kRefused);
}

// settings/ tests the manual proxy, direct connections and the proxy login.
TEST(InternetSessionProxyTest, TheSystemSettingIsTheEnvironmentAndOptionsMayChangeMeanwhile) {
    test::TestHttpServer server;
    server.Server().Get("/hello",
                        [](const auto&, auto& res) { res.set_content("hello", "text/plain"); });
    server.Start();
    test::TinyProxy proxy;
    const char* saved = std::getenv("http_proxy");
    const std::string old = saved != nullptr ? saved : "";
    ::setenv("http_proxy", ("http://" + proxy.Address()).c_str(), 1);
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PRECONFIG, "");
    const auto fetch = [&](const std::string& query) {
        auto file = session.OpenURL(server.Url("/hello?" + query));
        char buffer[64];
        return std::string(buffer, file->Read(buffer, sizeof buffer));
    };
    EXPECT_EQ(fetch("preconfig"), "hello");
    saved != nullptr ? ::setenv("http_proxy", old.c_str(), 1) : ::unsetenv("http_proxy");
    EXPECT_NE(proxy.Log().find("GET " + server.Url("/hello?preconfig")), std::string::npos)
        << proxy.Log();

    // The proxy dialog applies its settings on the window's thread while a run works.
    std::atomic<bool> stop{false};
    std::thread dialog([&] {
        for (int i = 0; !stop; ++i) {
            const std::string text(static_cast<std::size_t>(i % 300), 'p');
            session.SetProxy(i % 2 == 0 ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                             proxy.Address());
            session.SetOption(INTERNET_OPTION_PROXY_USERNAME, text);
            session.SetOption(INTERNET_OPTION_USERNAME, text);
        }
    });
    int answered = 0;
    for (int i = 0; i < 50; ++i) {
        answered += fetch("") == "hello" ? 1 : 0;
    }
    stop = true;
    dialog.join();
    EXPECT_EQ(answered, 50);
}

}  // namespace
}  // namespace zephyrate
