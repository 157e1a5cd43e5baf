// Answers of a real web site through the session: status, headers and body, connection
// reuse, many responses alive at once, logins and proxies.
#include "platform/InternetSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

// What a client got: "STATUS BODY", the body read to its end in reads of `step` bytes.
std::string Reply(HttpFile& file, std::size_t step = 4096) {
    std::uint32_t status = 0;
    EXPECT_TRUE(file.QueryInfoStatusCode(status));
    std::string reply = std::to_string(status) + " ";
    std::string chunk(step, '\0');
    while (std::size_t n = file.Read(chunk.data(), chunk.size())) {
        reply.append(chunk, 0, n);
    }
    return reply;
}

// 150,000 bytes of one letter, so that a mix-up shows.
std::string BodyOf(int n) {
    return std::string(150000, static_cast<char>('a' + n));
}

class InternetSessionTest : public ::testing::Test {
  protected:
    InternetSessionTest() {
        folder_.WriteFile("large", std::string(8 << 20, 'l'));
        for (int i = 0; i < 7; ++i) {
            folder_.WriteFile("body/" + std::to_string(i), BodyOf(i));
        }
        site_.Server().Get("/moved",
                           [](const auto&, auto& res) { res.set_redirect("/body/1", 301); });
        site_.Server().Get("/chunked", [](const auto&, auto& res) {
            res.set_chunked_content_provider("text/plain", [](std::size_t offset, auto& sink) {
                const std::string piece(10000, static_cast<char>('a' + offset / 10000));
                return offset < 30000 ? sink.write(piece.data(), piece.size())
                                      : (sink.done(), true);
            });
        });
        site_.ServeFolder(folder_.Path());
        site_.Start();
    }

    std::unique_ptr<HttpFile> Open(const std::string& path) {
        return session_.OpenURL(site_.Url(path));
    }

    TempFolder folder_;
    TestSite site_;  // outlives the session's idle connections
    InternetSession session_;
};

TEST_F(InternetSessionTest, ReportsStatusLengthStampAndBody) {
    const timespec stamp[2] = {{0, UTIME_OMIT}, {784111777, 0}};  // 1994-11-06 08:49:37 UTC
    ASSERT_EQ(utimensat(AT_FDCWD, (folder_ / "body/1").c_str(), stamp, 0), 0);
    const struct {
        const char* path;
        std::string reply;
        std::int64_t length;  // -1: none announced
        bool dated = false;
    } cases[] = {
        {"/body/1", "200 " + BodyOf(1), 150000, true},
        {"/moved", "200 " + BodyOf(1), 150000, true},
        {"/status/401", "401 status 401", 10},
        {"/status/500", "500 status 500", 10},
        {"/chunked",
         "200 " + std::string(10000, 'a') + std::string(10000, 'b') + std::string(10000, 'c'), -1},
    };
    const SYSTEMTIME sunday{1994, 11, 0, 6, 8, 49, 37};
    for (const auto& c : cases) {
        auto file = Open(c.path);
        std::uint32_t length = 77;
        EXPECT_EQ(file->QueryInfoContentLength(length), c.length >= 0) << c.path;
        EXPECT_EQ(length, c.length >= 0 ? c.length : 77) << c.path;
        SYSTEMTIME time{1234};
        EXPECT_EQ(file->QueryInfoLastModified(time), c.dated) << c.path;
        EXPECT_EQ(time, c.dated ? sunday : SYSTEMTIME{1234}) << c.path;
        EXPECT_EQ(Reply(*file, 3000), c.reply) << c.path;
    }
}

TEST_F(InternetSessionTest, ReusesOneConnectionAndSeeksOnlyAfterARead) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Reply(*Open("/body/1")), "200 " + BodyOf(1));
    }
    // A short unread rest is read away on close, so the connection survives...
    Open("/body/1")->Close();
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
    EXPECT_EQ(Reply(*Open("/body/1")), "200 " + BodyOf(1));
    EXPECT_EQ(site_.ConnectionCount(), 2u);
}

TEST_F(InternetSessionTest, ResponsesAliveAtOnceEachReadTheirOwnBody) {
    // More responses open at once than the session keeps handles for, read in turns.
    std::vector<std::unique_ptr<HttpFile>> files;
    std::vector<std::string> bodies(7);
    for (int i = 0; i < 7; ++i) {
        files.push_back(Open("/body/" + std::to_string(i)));
    }
    for (bool more = true; more;) {
        more = false;
        for (int i = 0; i < 7; ++i) {
            char chunk[4096];
            const std::size_t n = files[i]->Read(chunk, sizeof chunk);
            bodies[i].append(chunk, n);
            more = more || n > 0;
        }
    }
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(bodies[i], BodyOf(i)) << "response " << i;
    }
}

// OpenURL returns at the headers: the body comes only once OpenURL has returned, and a
// session that waited for it would give up after its stall limit.
TEST(InternetSessionHeadersTest, OpenReturnsAtTheHeadersWithoutWaitingForTheBody) {
    std::promise<void> opened;
    std::shared_future<void> openedFuture = opened.get_future().share();
    RawHttpServer raw([&](RawHttpServer::Connection& c) {
        std::string request = c.ReadRequest();
        if (request.find("GET /huge ") != std::string::npos) {
            return c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello");
        }
        if (request.find("GET /start ") != std::string::npos) {
            c.Send("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n");
            request = c.ReadRequest();
        }
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
        openedFuture.wait_for(std::chrono::seconds(10));
        c.Send("late!");
    });
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(2));
    auto file = session.OpenURL(raw.Url("/start"));  // after a redirect too
    opened.set_value();
    EXPECT_EQ(Reply(*file), "200 late!");
    // A length above 4 GiB is reported by its low 32 bits.
    std::uint32_t length = 0;
    ASSERT_TRUE(session.OpenURL(raw.Url("/huge"))->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
}

// Sets the request's login and sends the request again; returns the new reply.
std::string Resend(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
    file.SendRequest();
    return Reply(file);
}

// engine/ tests the login loop; here the order in which the request's login, the login the
// session remembers per server and the session login apply.
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
    ASSERT_EQ(Resend(*file, "carol", "guess"), refused);
    ASSERT_EQ(Resend(*file, "carol", "secret"), "200 secret of /a");

    // Remembered for that server only.
    EXPECT_EQ(open(site, "/b"), "200 secret of /b");
    EXPECT_EQ(open(otherSite, "/a"), refused);
    EXPECT_EQ(otherSite.Authorizations(), std::vector<std::string>{""});
    setSessionLogin("carol", "wrong");
    EXPECT_EQ(open(site, "/a"), "200 secret of /a");
    file = session.OpenURL(site.Url("/a"));
    EXPECT_EQ(Resend(*file, "carol", "wrong"), refused) << "the request's own login comes first";

    // The session login alone, where nothing is remembered; an empty one is no login.
    setSessionLogin("carol", "secret");
    EXPECT_EQ(open(otherSite, "/a"), "200 secret of /a");
    setSessionLogin("", "");
    EXPECT_EQ(open(otherSite, "/b"), refused);
}

// settings/ tests the manual proxy, direct connections and the proxy login.
TEST_F(InternetSessionTest, TheSystemProxyIsTheEnvironmentAndOptionsMayChangeMeanwhile) {
    TinyProxy proxy;
    const char* saved = std::getenv("http_proxy");
    const std::string old = saved != nullptr ? saved : "";
    ::setenv("http_proxy", ("http://" + proxy.Address()).c_str(), 1);
    session_.SetProxy(INTERNET_OPEN_TYPE_PRECONFIG, "");
    EXPECT_EQ(Reply(*Open("/status/200?preconfig")), "200 status 200");
    saved != nullptr ? ::setenv("http_proxy", old.c_str(), 1) : ::unsetenv("http_proxy");
    EXPECT_NE(proxy.Log().find("GET " + site_.Url("/status/200?preconfig")), std::string::npos)
        << proxy.Log();

    // The proxy dialog applies its settings on the window's thread while a run works.
    std::atomic<bool> stop{false};
    std::thread dialog([&] {
        for (int i = 0; !stop; ++i) {
            const std::string text(static_cast<std::size_t>(i % 300), 'p');
            session_.SetProxy(i % 2 == 0 ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                              proxy.Address());
            session_.SetOption(INTERNET_OPTION_PROXY_USERNAME, text);
            session_.SetOption(INTERNET_OPTION_USERNAME, text);
        }
    });
    int answered = 0;
    for (int i = 0; i < 50; ++i) {
        answered += Reply(*Open("/status/200")) == "200 status 200" ? 1 : 0;
    }
    stop = true;
    dialog.join();
    EXPECT_EQ(answered, 50);
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

}  // namespace
}  // namespace zephyrate::test
