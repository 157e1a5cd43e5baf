// Servers that fail or lie, and addresses that must not be opened: every case ends in an
// InternetError with a useful text, none hangs, and none spoils the next request.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"

namespace zephyrate {
namespace {

using test::RawHttpServer;
using namespace std::chrono_literals;

// Opens the address and reads its body: the error text, or "" and the body's length.
std::string Fetch(InternetSession& session, const std::string& url) {
    std::size_t total = 0;
    try {
        auto file = session.OpenURL(url);
        char buffer[4096];
        while (std::size_t n = file->Read(buffer, sizeof buffer)) {
            total += n;
        }
    } catch (const InternetError& error) {
        return error.what();
    }
    return std::to_string(total) + " bytes";
}

TEST(InternetSessionFailureTest, EachFaultOfAnAnswerIsAnErrorOfItsRequestOnly) {
    RawHttpServer server([](RawHttpServer::Connection& c) {
        for (std::string request = c.ReadRequest(); !request.empty(); request = c.ReadRequest()) {
            const auto asked = [&](const char* path) { return request.find(path) != request.npos; };
            const std::string evil = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nEVIL";
            if (asked("/short") || asked("/reset")) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                       std::string(60000, 'x'));
                if (asked("/reset")) {
                    c.WaitForClientClose(100ms);
                    c.Reset();
                }
                return;
            } else if (asked("/chunks-cut")) {
                return c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n");
            } else if (asked("/close")) {
                return c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                              std::string(7000, 'z'));
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
    test::TempFolder folder;
    const auto secret = folder.WriteFile("secret.txt", "local data");
    test::TestSite redirect;
    redirect.Server().Get(
        "/to-file", [&](const auto&, auto& res) { res.set_redirect("file://" + secret.string()); });
    redirect.Start();
    const std::string closedPort = std::to_string(test::FreeLoopbackPort());
    const std::pair<std::string, std::string> cases[] = {
        // address, the start of the error text or the body's length
        {server.Url("/short"), "transfer closed with 40000 bytes remaining"},
        {server.Url("/reset"), "Recv failure"},
        {server.Url("/chunks-cut"), "transfer closed with outstanding read data"},
        {server.Url("/close"), "7000 bytes"},  // a body ended by the server's close is whole
        {server.Url("/stall-body"), "Operation timed out"},
        {server.Url("/stall-headers"), "Operation timed out"},
        {server.Url("/excess"), "5 bytes"},
        {server.Url("/two-lengths"), "The server's answer gives two different lengths"},
        {server.Url("/length-and-chunks"),
         "The server's answer gives both a length and chunked encoding"},
        {"file://" + secret.string(), "Protocol \"file\""},
        {"ftp://127.0.0.1:" + closedPort + "/x", "Protocol \"ftp\""},
        {redirect.Url("/to-file"), "Protocol \"file\""},
        {"not an address", "URL using bad"},
        {"http://127.0.0.1:" + closedPort + "/x",
         "Failed to connect to 127.0.0.1 port " + closedPort},
    };
    InternetSession session;
    session.SetTimeouts(5s, 1s);
    for (const auto& [url, result] : cases) {
        const std::string got = Fetch(session, url);
        EXPECT_EQ(got.substr(0, result.size()), result) << url << ": " << got;
        EXPECT_EQ(Fetch(session, server.Url("/next")), "4 bytes") << "after " << url;
    }
}

TEST(InternetSessionFailureTest, AReaderThatPausesIsNotAStall) {
    test::TestSite server;
    server.Server().Get("/file", [](const auto&, auto& res) {
        res.set_content(std::string(3 << 20, 'p'), "application/octet-stream");
    });
    server.Start();
    InternetSession session;
    session.SetTimeouts(5s, 300ms);
    auto file = session.OpenURL(server.Url("/file"));
    char buffer[4096];
    ASSERT_EQ(file->Read(buffer, sizeof buffer), sizeof buffer);
    // The transfer is paused with its read-ahead full; the server is not at fault.
    std::this_thread::sleep_for(700ms);
    while (file->Read(buffer, sizeof buffer) > 0) {
    }
}

TEST(InternetSessionFailureTest, AnUntrustedTlsPeerIsRefused) {
    test::TempFolder folder;
    const std::string key = (folder / "key.pem").string();
    const std::string certificate = (folder / "cert.pem").string();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -keyout " +
        key + " -out " + certificate + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a certificate";
    httplib::SSLServer server(certificate.c_str(), key.c_str());
    server.Get("/", [](const auto&, auto& res) { res.set_content("private", "text/plain"); });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::yield();
    }
    InternetSession session;
    const std::string error = Fetch(session, "https://127.0.0.1:" + std::to_string(port) + "/");
    server.stop();
    thread.join();
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
}

}  // namespace
}  // namespace zephyrate
