// Answers of real web sites through the session: connection reuse, answers awaited only to
// their headers, logins, proxies, and servers that fail or lie.
#include "platform/InternetSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/InternetError.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

using namespace std::chrono_literals;

// What a client got: "STATUS BODY", the body read to its end.
std::string Reply(HttpFile& file) {
    std::uint32_t status = 0;
    EXPECT_TRUE(file.QueryInfoStatusCode(status));
    std::string reply = std::to_string(status) + " ";
    std::string chunk(4096, '\0');
    while (std::size_t n = file.Read(chunk.data(), chunk.size())) {
        reply.append(chunk, 0, n);
    }
    return reply;
}

class InternetSessionTest : public ::testing::Test {
  protected:
    InternetSessionTest() {
        folder_.WriteFile("large", std::string(8 << 20, 'l'));
        folder_.WriteFile("body", body_);
        const std::string secret = "file://" + folder_.WriteFile("secret.txt", "local").string();
        site_.Server().Get("/to-file",
                           [secret](const auto&, auto& res) { res.set_redirect(secret); });
        site_.ServeFolder(folder_.Path());
        site_.Start();
    }

    std::unique_ptr<HttpFile> Open(const std::string& path) {
        return session_.OpenURL(site_.Url(path));
    }

    const std::string body_ = std::string(150000, 'b');
    TempFolder folder_;
    TestSite site_;  // outlives the session's idle connections
    InternetSession session_;
};

TEST_F(InternetSessionTest, ReusesOneConnectionAndSeeksOnlyAfterARead) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Reply(*Open("/body")), "200 " + body_);
    }
    // A short unread rest is read away on close, so the connection survives...
    Open("/body")->Close();
    auto file = Open("/status/200");
    file->SeekToBegin();  // nothing read yet: nothing to do
    char head[4];
    ASSERT_EQ(file->Read(head, sizeof head), 4u);
    file->SeekToBegin();
    EXPECT_EQ(Reply(*file), "200 status 200");
    EXPECT_EQ(site_.RequestCount(), 6u);
    EXPECT_EQ(site_.ConnectionCount(), 1u);

    // ...while a long one is cut with its connection.
    auto large = Open("/large");
    EXPECT_EQ(large->Read(head, sizeof head), sizeof head);
    large->Close();
    EXPECT_EQ(large->Read(head, sizeof head), 0u) << "a closed response has no more body";
    EXPECT_EQ(Reply(*Open("/body")), "200 " + body_);
    EXPECT_EQ(site_.ConnectionCount(), 2u);
}

// OpenURL follows a redirect and returns at the final headers: the body comes only once
// OpenURL has returned, and a session that waited for it would give up after its stall limit.
TEST(InternetSessionHeadersTest, OpenReturnsAtTheHeadersWithoutWaitingForTheBody) {
    std::promise<void> opened;
    std::shared_future<void> openedFuture = opened.get_future().share();
    RawHttpServer raw([&](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 301 Moved\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n");
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
        openedFuture.wait_for(std::chrono::seconds(10));
        c.Send("late!");
    });
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(2));
    auto file = session.OpenURL(raw.Url("/start"));  // after a redirect too
    opened.set_value();
    EXPECT_EQ(Reply(*file), "200 late!");
}

// Sets the request's login and sends the request again; returns the new reply.
std::string Resend(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
    file.SendRequest();
    return Reply(file);
}

// engine/ tests the login loop; here the order in which the request's login, the
// login the session remembers per server and the session login apply.
TEST(InternetSessionLoginTest, RequestLoginBeatsRememberedLoginBeatsSessionLogin) {
    TestSite site;
    TestSite otherSite;
    for (TestSite* each : {&site, &otherSite}) {
        each->RequireLogin("carol", "secret");
        each->Start();
    }
    const std::string refused = "401 login please";
    InternetSession session;
    const auto open = [&](const TestSite& at, const char* path) {
        return Reply(*session.OpenURL(at.Url(path)));
    };
    const auto setSessionLogin = [&](const std::string& user, const std::string& password) {
        EXPECT_TRUE(session.SetOption(INTERNET_OPTION_USERNAME, user));
        EXPECT_TRUE(session.SetOption(INTERNET_OPTION_PASSWORD, password));
    };
    auto file = session.OpenURL(site.Url("/a"));
    ASSERT_EQ(Resend(*file, "carol", "secret"), "200 secret of /a");

    // Remembered for that server only, and before the session login; the request's own
    // login comes first.
    setSessionLogin("carol", "wrong");
    EXPECT_EQ(open(site, "/b"), "200 secret of /b");
    EXPECT_EQ(open(otherSite, "/a"), refused);
    file = session.OpenURL(site.Url("/a"));
    EXPECT_EQ(Resend(*file, "carol", "wrong"), refused);

    // The session login alone, where nothing is remembered; an empty one is no login.
    setSessionLogin("carol", "secret");
    EXPECT_EQ(open(otherSite, "/a"), "200 secret of /a");
    setSessionLogin("", "");
    EXPECT_EQ(open(otherSite, "/b"), refused);
}

// settings/ tests the manual proxy, direct connections and the proxy login.
TEST_F(InternetSessionTest, TheSystemProxyIsTheEnvironments) {
    TinyProxy proxy;
    const char* saved = std::getenv("http_proxy");
    const std::string old = saved != nullptr ? saved : "";
    ::setenv("http_proxy", ("http://" + proxy.Address()).c_str(), 1);
    session_.SetProxy(INTERNET_OPEN_TYPE_PRECONFIG, "");
    EXPECT_EQ(Reply(*Open("/status/200?preconfig")), "200 status 200");
    saved != nullptr ? ::setenv("http_proxy", old.c_str(), 1) : ::unsetenv("http_proxy");
    EXPECT_NE(proxy.Log().find("GET " + site_.Url("/status/200?preconfig")), std::string::npos)
        << proxy.Log();
}

// A proxy request names the whole address ("GET http://host/path"); the proxy here answers
// every one with that address.
TEST(InternetSessionProxyTest, AManualProxyWithoutAPortIsReachedOnPort80) {
    TestSite proxy;
    proxy.Server().Get(".*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("proxied " + req.target, "text/plain");
    });
    try {
        proxy.Start(80);
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "port 80 is not ours to take: " << error.what();
    }
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PROXY, "127.0.0.1");
    EXPECT_EQ(Reply(*session.OpenURL("http://zephyrate.invalid/page")),
              "200 proxied http://zephyrate.invalid/page");
}

// The error text of a request, or its reply.
std::string Fetch(InternetSession& session, const std::string& url) {
    try {
        return Reply(*session.OpenURL(url));
    } catch (const InternetError& error) {
        return error.what();
    }
}

// Servers that fail or lie, and addresses that must not be opened: every case ends in an
// InternetError with a useful text, none hangs, and none spoils the next request.
TEST_F(InternetSessionTest, EachFaultOfAnAnswerIsAnErrorOfItsRequestOnly) {
    RawHttpServer server([](RawHttpServer::Connection& c) {
        for (std::string request = c.ReadRequest(); !request.empty(); request = c.ReadRequest()) {
            const auto asked = [&](const char* path) { return request.find(path) != request.npos; };
            const std::string evil = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nEVIL";
            if (asked("/short")) {
                return c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                              std::string(60000, 'x'));
            } else if (asked("/stall-")) {
                c.Send(asked("/stall-body") ? "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"
                                            : "HTTP/1.1 200 OK\r\nContent-");
                return c.WaitForClientClose(20s);
            } else if (asked("/excess")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
                std::this_thread::sleep_for(20ms);
                c.Send("hello" + evil);
            } else if (asked("/two-lengths")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 10\r\n\r\n");
                c.Send("0123456789" + evil);
            } else if (asked("/length-and-chunks")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n");
                c.Send("\r\n3\r\nabc\r\n0\r\n\r\n" + evil);
            } else {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ngood");
            }
        }
    });
    const std::pair<std::string, std::string> cases[] = {
        // address, the start of the error text or the body's length
        {server.Url("/short"), "transfer closed with 40000 bytes remaining"},
        {server.Url("/stall-body"), "Operation timed out"},
        {server.Url("/stall-headers"), "Operation timed out"},
        {server.Url("/excess"), "200 hello"},
        {server.Url("/two-lengths"), "The server's answer gives two different lengths"},
        {server.Url("/length-and-chunks"),
         "The server's answer gives both a length and chunked encoding"},
        {"file://" + (folder_ / "secret.txt").string(), "Protocol \"file\""},
        {site_.Url("/to-file"), "Protocol \"file\""},
    };
    session_.SetTimeouts(5s, 1s);
    for (const auto& [url, result] : cases) {
        const std::string got = Fetch(session_, url);
        EXPECT_EQ(got.substr(0, result.size()), result) << url << ": " << got;
        EXPECT_EQ(Fetch(session_, server.Url("/next")), "200 good") << "after " << url;
    }
}

TEST_F(InternetSessionTest, AReaderThatPausesIsNotAStall) {
    session_.SetTimeouts(5s, 300ms);
    auto file = Open("/large");
    char buffer[4096];
    ASSERT_EQ(file->Read(buffer, sizeof buffer), sizeof buffer);
    // The transfer is paused with its read-ahead full; the server is not at fault.
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(Reply(*file).size(), std::size_t{4 + (8 << 20) - 4096});
}

}  // namespace
}  // namespace zephyrate::test
