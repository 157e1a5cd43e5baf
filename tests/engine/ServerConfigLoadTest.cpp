#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/ServerConfig.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

using test::RawHttpServer;
using test::TestHttpServer;

constexpr std::uint32_t kIndexFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII;

std::string LoadFrom(InternetSession& session, const std::string& url) {
    std::unique_ptr<HttpFile> response = session.OpenURL(url, kIndexFlags);
    ServerConfig config;
    EXPECT_TRUE(config.Load(*response));
    response->Close();
    return config.Text();
}

TEST(ServerConfigLoadTest, ReadsTheAnnouncedLengthOrFiftyThousandBytes) {
    TestHttpServer server;
    const std::string index = "Header:zephyrate v1.0\r\nFile: a.htm # first\r\nFile: b.htm";
    server.Server().Get("/index.txt", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(index, "text/plain");
    });
    // A chunked body carries no Content-Length: 50000 bytes at most are read.
    const std::string big(70000, 'x');
    server.Server().Get("/chunked.txt", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&](std::size_t, httplib::DataSink& sink) {
            sink.write(big.data(), big.size());
            sink.done();
            return true;
        });
    });
    server.Start();
    InternetSession session;

    EXPECT_EQ(LoadFrom(session, server.Url("/index.txt")),
              "Header:zephyrate v1.0\r\nFile: a.htm \nFile: b.htm\n");  // the '#' takes the CR
    const std::string cut = LoadFrom(session, server.Url("/chunked.txt"));
    EXPECT_EQ(cut.size(), ServerConfig::kDefaultLength + 1);
}

TEST(ServerConfigLoadTest, AnEmptyBodyGivesALoneLineFeed) {
    TestHttpServer server;
    server.Server().Get("/empty", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("", "text/plain");
    });
    server.Start();
    InternetSession session;
    EXPECT_EQ(LoadFrom(session, server.Url("/empty")), "\n");
}

// A server that announces far more than it sends must not make us reserve it, and the
// short body ends in an error rather than a hang.
TEST(ServerConfigLoadTest, AHugeAnnouncedLengthIsNotTrusted) {
    RawHttpServer server([](RawHttpServer::Connection& connection) {
        connection.ReadRequest();
        connection.Send(
            "HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\nConnection: close\r\n\r\n"
            "Header:zephyrate v1.0\n");
    });
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(2));
    std::unique_ptr<HttpFile> response = session.OpenURL(server.Url("/index.txt"), kIndexFlags);
    ServerConfig config;
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(config.Load(*response), InternetError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(ServerConfigLoadTest, ASmallerAnnouncedLengthCutsTheText) {
    RawHttpServer server([](RawHttpServer::Connection& connection) {
        connection.ReadRequest();
        connection.Send(
            "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"
            "Header:zephyrate v1.0\nFile: a\n");
    });
    InternetSession session;
    EXPECT_EQ(LoadFrom(session, server.Url("/index.txt")), "Header:zep\n");
}

}  // namespace
}  // namespace zephyrate
