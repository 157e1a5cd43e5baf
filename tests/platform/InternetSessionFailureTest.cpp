// Servers that fail or lie, and addresses that must not be opened: every case ends in an
// InternetError with a useful text, and none hangs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

using test::RawHttpServer;
using Clock = std::chrono::steady_clock;

// Reads the whole body: the bytes read, and the error text or "" when the body ended
// normally.
std::pair<std::size_t, std::string> ReadToEnd(HttpFile& file) {
    char buffer[4096];
    std::size_t total = 0;
    try {
        while (std::size_t n = file.Read(buffer, sizeof buffer)) {
            total += n;
        }
    } catch (const InternetError& error) {
        return {total, std::string("error: ") + error.what()};
    }
    return {total, ""};
}

// Opens the address and reads its body; the error text, or "" when all went well.
std::string FetchError(InternetSession& session, const std::string& url) {
    try {
        return ReadToEnd(*session.OpenURL(url)).second;
    } catch (const InternetError& error) {
        return error.what();
    }
}

TEST(InternetSessionFailureTest, BodiesCutShortOrResetRaiseErrorsButOneEndedByCloseIsWhole) {
    RawHttpServer server([](RawHttpServer::Connection& c) {
        const std::string request = c.ReadRequest();
        const auto asked = [&](const char* path) { return request.find(path) != request.npos; };
        if (asked("/chunked")) {
            c.Send(
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789abcdef\r\n");
        } else if (asked("/close")) {
            c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(70000, 'z'));
        } else {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(60000, 'x'));
            if (asked("/reset")) {
                c.WaitForClientClose(std::chrono::milliseconds(100));
                c.Reset();
            }
        }
    });
    InternetSession session;

    auto cut = session.OpenURL(server.Url("/short"));
    std::uint32_t length = 0;
    ASSERT_TRUE(cut->QueryInfoContentLength(length));
    EXPECT_EQ(length, 100000u);
    const auto [total, error] = ReadToEnd(*cut);
    EXPECT_NE(error.find("transfer closed with 40000 bytes remaining"), std::string::npos) << error;
    EXPECT_LT(total, 100000u);
    EXPECT_NE(FetchError(session, server.Url("/reset")), "");
    EXPECT_NE(FetchError(session, server.Url("/chunked")), "");

    auto whole = session.OpenURL(server.Url("/close"));
    EXPECT_FALSE(whole->QueryInfoContentLength(length));
    EXPECT_EQ(ReadToEnd(*whole), std::make_pair(std::size_t{70000}, std::string()));
}

// An answer that frames its body two ways is an error for its request; what an answer left
// on the connection beyond its length never becomes the next request's answer.
TEST(InternetSessionFailureTest, AnswersThatContradictTheirLengthPoisonNoLaterRequest) {
    RawHttpServer server([](RawHttpServer::Connection& c) {
        for (std::string request = c.ReadRequest(); !request.empty(); request = c.ReadRequest()) {
            const auto asked = [&](const char* path) { return request.find(path) != request.npos; };
            if (asked("/excess")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                c.Send("helloHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nEVIL");
            } else if (asked("/two-lengths")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 10\r\n\r\n");
                c.Send("0123456789HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nEVIL");
            } else if (asked("/length-and-chunks")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n");
                c.Send("\r\n3\r\nabc\r\n0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nEVIL");
            } else {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ngood");
            }
        }
    });
    InternetSession session;
    const std::pair<const char*, const char*> cases[] = {
        {"/excess", ""},
        {"/two-lengths", "The server's answer gives two different lengths"},
        {"/length-and-chunks", "The server's answer gives both a length and chunked encoding"},
    };
    for (const auto& [path, error] : cases) {
        EXPECT_EQ(FetchError(session, server.Url(path)), error) << path;
        auto next = session.OpenURL(server.Url("/next"));
        char body[8] = {};
        EXPECT_EQ(std::string(body, next->Read(body, sizeof body)), "good") << "after " << path;
    }
}

TEST(InternetSessionFailureTest, StallsRaiseErrorsAfterTheStallLimit) {
    RawHttpServer server([](RawHttpServer::Connection& c) {
        if (c.ReadRequest().find("/body") != std::string::npos) {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'));
        } else {
            c.Send("HTTP/1.1 200 OK\r\nContent-");
        }
        c.WaitForClientClose(std::chrono::seconds(20));
    });
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(1));
    for (const char* path : {"/body", "/headers"}) {
        const auto start = Clock::now();
        const std::string error = FetchError(session, server.Url(path));
        const auto waited = Clock::now() - start;
        EXPECT_NE(error.find("timed out"), std::string::npos) << path << ": " << error;
        EXPECT_GE(waited, std::chrono::milliseconds(900)) << path;
        EXPECT_LT(waited, std::chrono::seconds(4)) << path;
    }
}

TEST(InternetSessionFailureTest, AReaderThatPausesIsNotAStall) {
    test::TestHttpServer server;
    server.Server().Get("/file", [](const auto&, auto& res) {
        res.set_content(std::string(3 << 20, 'p'), "application/octet-stream");
    });
    server.Start();
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::milliseconds(300));
    auto file = session.OpenURL(server.Url("/file"));
    char buffer[4096];
    ASSERT_EQ(file->Read(buffer, sizeof buffer), sizeof buffer);
    // The transfer is paused with its read-ahead full; the server is not at fault.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(ReadToEnd(*file).second, "");
}

TEST(InternetSessionFailureTest, RefusesAddressesOtherThanHttpAndHttpsAndRefusedConnections) {
    test::TempFolder folder;
    const auto secret = folder.WriteFile("secret.txt", "local data");
    test::TestHttpServer server;
    server.Server().Get("/to-file", [&](const auto&, auto& res) {
        res.status = 302;
        res.set_header("Location", "file://" + secret.string());
    });
    server.Start();
    InternetSession session;

    const std::string error = FetchError(session, "file://" + secret.string());
    EXPECT_NE(error.find("file"), std::string::npos) << error;
    EXPECT_NE(FetchError(session, "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x"), "");
    EXPECT_NE(FetchError(session, server.Url("/to-file")), "") << "a redirect to a local file";
    EXPECT_NE(FetchError(session, "not an address"), "");

    const std::string port = std::to_string(test::FreeLoopbackPort());
    const std::string refused = FetchError(session, "http://127.0.0.1:" + port + "/x");
    EXPECT_EQ(refused.rfind("Failed to connect to 127.0.0.1 port " + port, 0), 0u) << refused;
}

TEST(InternetSessionFailureTest, AnUntrustedTlsPeerIsRefused) {
    test::TempFolder folder;
    const std::string key = (folder / "key.pem").string();
    const std::string certificate = (folder / "cert.pem").string();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " + key +
        " -out " + certificate + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a certificate";
    httplib::SSLServer server(certificate.c_str(), key.c_str());
    ASSERT_TRUE(server.is_valid());
    server.Get("/", [](const auto&, auto& res) { res.set_content("private", "text/plain"); });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::yield();
    }

    InternetSession session;
    const std::string error =
        FetchError(session, "https://127.0.0.1:" + std::to_string(port) + "/");
    server.stop();
    thread.join();
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
}

}  // namespace
}  // namespace zephyrate
