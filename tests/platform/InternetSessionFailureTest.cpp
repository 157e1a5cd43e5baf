// Servers that fail or lie, and addresses that must not be opened: every case ends in an
// InternetError with a useful text, and none hangs.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Reads the whole body; returns the error text, or "" when the body ended normally.
std::string ReadToEndOrError(HttpFile& file, std::size_t* total = nullptr) {
    char buffer[4096];
    std::size_t count = 0;
    try {
        while (std::size_t n = file.Read(buffer, sizeof buffer)) {
            count += n;
        }
    } catch (const InternetError& error) {
        if (total != nullptr) {
            *total = count;
        }
        return std::string("error: ") + error.what();
    }
    if (total != nullptr) {
        *total = count;
    }
    return "";
}

std::string OpenError(InternetSession& session, const std::string& url) {
    try {
        session.OpenURL(url);
    } catch (const InternetError& error) {
        return error.what();
    }
    return "";
}

// A port on which nothing listens (it was free a moment ago).
int ClosedPort() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

TEST(InternetSessionFailureTest, BodiesCutShortOrResetRaiseErrors) {
    RawHttpServer shortBody([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(60000, 'x'));
    });
    RawHttpServer reset([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(20000, 'x'));
        c.WaitForClientClose(std::chrono::milliseconds(100));
        c.Reset();
    });
    RawHttpServer chunkedCut([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789abcdef\r\n");
    });
    InternetSession session;

    std::size_t total = 0;
    auto cut = session.OpenURL(shortBody.Url("/file"));
    std::uint32_t length = 0;
    ASSERT_TRUE(cut->QueryInfoContentLength(length));
    EXPECT_EQ(length, 100000u);
    std::string error = ReadToEndOrError(*cut, &total);
    EXPECT_NE(error.find("transfer closed with 40000 bytes remaining"), std::string::npos) << error;
    EXPECT_LT(total, 100000u);

    EXPECT_NE(ReadToEndOrError(*session.OpenURL(reset.Url("/file"))), "");
    EXPECT_NE(ReadToEndOrError(*session.OpenURL(chunkedCut.Url("/file"))), "");
}

TEST(InternetSessionFailureTest, ABodyThatEndsWithTheConnectionIsComplete) {
    RawHttpServer closeDelimited([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(70000, 'z'));
    });
    InternetSession session;
    auto file = session.OpenURL(closeDelimited.Url("/file"));
    std::uint32_t length = 0;
    EXPECT_FALSE(file->QueryInfoContentLength(length));
    std::size_t total = 0;
    EXPECT_EQ(ReadToEndOrError(*file, &total), "");
    EXPECT_EQ(total, 70000u);
}

TEST(InternetSessionFailureTest, StallsRaiseErrorsAfterTheStallLimit) {
    RawHttpServer stallInBody([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'));
        c.WaitForClientClose(std::chrono::seconds(20));
    });
    RawHttpServer stallInHeaders([](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-");
        c.WaitForClientClose(std::chrono::seconds(20));
    });
    InternetSession session;
    session.SetTimeouts(std::chrono::seconds(5), std::chrono::seconds(1));

    auto start = Clock::now();
    auto file = session.OpenURL(stallInBody.Url("/file"));
    std::string error = ReadToEndOrError(*file);
    auto waited = Clock::now() - start;
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(4));

    start = Clock::now();
    error = OpenError(session, stallInHeaders.Url("/file"));
    waited = Clock::now() - start;
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
    EXPECT_LT(waited, std::chrono::seconds(4));
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
    std::size_t total = sizeof buffer;
    EXPECT_EQ(ReadToEndOrError(*file, &total), "");
}

TEST(InternetSessionFailureTest, RefusesAddressesOtherThanHttpAndHttps) {
    test::TempFolder folder;
    const auto secret = folder.WriteFile("secret.txt", "local data");
    test::TestHttpServer server;
    server.Server().Get("/to-file", [&](const auto&, auto& res) {
        res.status = 302;
        res.set_header("Location", "file://" + secret.string());
    });
    server.Start();
    InternetSession session;

    std::string error = OpenError(session, "file://" + secret.string());
    EXPECT_NE(error.find("file"), std::string::npos) << error;
    EXPECT_NE(OpenError(session, "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x"), "");
    EXPECT_NE(OpenError(session, "gopher://127.0.0.1/"), "");
    error = OpenError(session, server.Url("/to-file"));
    EXPECT_NE(error, "") << "a redirect must not reach a local file either";
    EXPECT_NE(OpenError(session, "not an address"), "");
}

TEST(InternetSessionFailureTest, ARefusedConnectionCarriesCurlsText) {
    InternetSession session;
    const int port = ClosedPort();
    const std::string error = OpenError(session, "http://127.0.0.1:" + std::to_string(port) + "/x");
    EXPECT_EQ(error.rfind("Failed to connect to 127.0.0.1 port " + std::to_string(port), 0), 0u)
        << error;
}

TEST(InternetSessionFailureTest, AnUntrustedTlsPeerIsRefused) {
    test::TempFolder folder;
    const std::string key = (folder / "key.pem").string();
    const std::string certificate = (folder / "cert.pem").string();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "
        "/CN=127.0.0.1 -keyout " +
        key + " -out " + certificate + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a certificate";
    httplib::SSLServer server(certificate.c_str(), key.c_str());
    ASSERT_TRUE(server.is_valid());
    server.Get("/", [](const auto&, auto& res) { res.set_content("private", "text/plain"); });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    InternetSession session;
    const std::string error = OpenError(session, "https://127.0.0.1:" + std::to_string(port) + "/");
    server.stop();
    thread.join();
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
}

}  // namespace
}  // namespace zephyrate
