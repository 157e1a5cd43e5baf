// Responses of well-behaved servers: status codes, headers, bodies of every size, and
// connection reuse.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; g++ 12 ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <chrono>
#include <fstream>
#include <string>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

using test::TestHttpServer;

std::string ReadAll(HttpFile& file, std::size_t step = 4096) {
    std::string all;
    std::string chunk(step, '\0');
    while (std::size_t n = file.Read(chunk.data(), chunk.size())) {
        all.append(chunk, 0, n);
    }
    return all;
}

std::uint32_t Status(const HttpFile& file) {
    std::uint32_t status = 0;
    EXPECT_TRUE(file.QueryInfoStatusCode(status));
    return status;
}

// Memory in use by this process, in KiB: resident memory (VmRSS), or under
// AddressSanitizer, whose quarantine keeps freed blocks resident on purpose, the bytes
// allocated and not yet freed.
long MemoryInUseKiB() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
#endif
}

TEST(InternetSessionResponseTest, ReportsStatusCodesAndFollowsRedirects) {
    TestHttpServer server;
    auto& s = server.Server();
    s.Get("/ok", [](const auto&, auto& res) { res.set_content("fine", "text/plain"); });
    s.Get("/moved", [](const auto&, auto& res) {
        res.status = 301;
        res.set_header("Location", "/ok");
        res.set_content("moved body that nobody should see", "text/plain");
    });
    s.Get("/odd", [](const auto&, auto& res) {
        res.status = 399;
        res.set_content("odd", "text/plain");
    });
    s.Get("/login", [](const auto&, auto& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"x\"");
        res.set_content("who are you", "text/plain");
    });
    s.Get("/broken", [](const auto&, auto& res) {
        res.status = 500;
        res.set_content("oops", "text/plain");
    });
    server.Start();

    InternetSession session;
    struct Case {
        const char* path;
        std::uint32_t status;
        const char* body;
    };
    for (const Case& c : {Case{"/ok", 200, "fine"}, Case{"/moved", 200, "fine"},
                          Case{"/odd", 399, "odd"}, Case{"/login", 401, "who are you"},
                          Case{"/missing", 404, nullptr}, Case{"/broken", 500, "oops"}}) {
        auto file = session.OpenURL(server.Url(c.path), INTERNET_FLAG_RELOAD);
        EXPECT_EQ(Status(*file), c.status) << c.path;
        std::string body = ReadAll(*file);
        if (c.body != nullptr) {
            EXPECT_EQ(body, c.body) << c.path;
        }
    }
}

TEST(InternetSessionResponseTest, ReadsLastModifiedInEveryDateForm) {
    TestHttpServer server;
    server.Server().Get("/dated", [](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("date")) {
            res.set_header("Last-Modified", req.get_param_value("date"));
        }
        res.set_content("x", "text/plain");
    });
    server.Start();

    InternetSession session;
    SYSTEMTIME expected;
    expected.wYear = 1994;
    expected.wMonth = 11;
    expected.wDay = 6;
    expected.wHour = 8;
    expected.wMinute = 49;
    expected.wSecond = 37;
    for (const char* date :
         {"Sun,%2006%20Nov%201994%2008:49:37%20GMT", "Sunday,%2006-Nov-94%2008:49:37%20GMT",
          "Sun%20Nov%20%206%2008:49:37%201994"}) {
        auto file = session.OpenURL(server.Url("/dated?date=") + date);
        SYSTEMTIME time;
        ASSERT_TRUE(file->QueryInfoLastModified(time)) << date;
        EXPECT_EQ(time, expected) << date;
    }
    SYSTEMTIME untouched;
    untouched.wYear = 1234;
    EXPECT_FALSE(session.OpenURL(server.Url("/dated"))->QueryInfoLastModified(untouched));
    EXPECT_FALSE(session.OpenURL(server.Url("/dated?date=Sun,%2031%20Nov%201994%2008:49:37%20GMT"))
                     ->QueryInfoLastModified(untouched));
    EXPECT_EQ(untouched.wYear, 1234) << "a failed query leaves the time alone";
}

TEST(InternetSessionResponseTest, ReadsChunkedBodiesWithoutALength) {
    TestHttpServer server;
    server.Server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "text/plain", [](std::size_t offset, httplib::DataSink& sink) {
                if (offset < 30000) {
                    std::string piece(10000, static_cast<char>('a' + offset / 10000));
                    sink.write(piece.data(), piece.size());
                } else {
                    sink.done();
                }
                return true;
            });
    });
    server.Start();

    InternetSession session;
    auto file = session.OpenURL(server.Url("/chunked"));
    std::uint32_t length = 77;
    EXPECT_FALSE(file->QueryInfoContentLength(length));
    std::string body = ReadAll(*file, 3000);
    EXPECT_EQ(body, std::string(10000, 'a') + std::string(10000, 'b') + std::string(10000, 'c'));
}

TEST(InternetSessionResponseTest, ReportsTheLowHalfOfLengthsAbove4GiB) {
    test::RawHttpServer server([](test::RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello");
        c.Reset();
    });
    InternetSession session;
    auto file = session.OpenURL(server.Url("/huge"));
    std::uint32_t length = 0;
    ASSERT_TRUE(file->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
}

TEST(InternetSessionResponseTest, ReturnsAtTheHeadersWithoutWaitingForTheBody) {
    // The body comes only after the client gave up waiting for it: OpenURL must not wait.
    test::RawHttpServer slowBody([](test::RawHttpServer::Connection& c) {
        std::string request = c.ReadRequest();
        if (request.find("GET /start ") != std::string::npos) {
            c.Send("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n");
            request = c.ReadRequest();
        }
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
        c.WaitForClientClose(std::chrono::seconds(1));
        c.Send("late!");
    });
    InternetSession session;
    const auto start = std::chrono::steady_clock::now();
    auto file = session.OpenURL(slowBody.Url("/start"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(Status(*file), 200u);
    std::uint32_t length = 0;
    ASSERT_TRUE(file->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(ReadAll(*file), "late!");
}

TEST(InternetSessionResponseTest, StreamsAGibibyteInBoundedMemory) {
    constexpr std::size_t kSize = std::size_t{1} << 30;
    TestHttpServer server;
    server.Server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(
            kSize, "application/octet-stream",
            [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                // Byte i of the body is i / 4096 modulo 251.
                std::string block(std::min<std::size_t>(length, 65536), '\0');
                for (std::size_t i = 0; i < block.size(); ++i) {
                    block[i] = static_cast<char>(((offset + i) / 4096) % 251);
                }
                return sink.write(block.data(), block.size());
            });
    });
    server.Start();

    InternetSession session;
    auto file = session.OpenURL(server.Url("/big"));
    const long before = MemoryInUseKiB();
    char buffer[4096];
    std::size_t total = 0;
    std::size_t wrongBlocks = 0;
    long peak = before;
    while (std::size_t n = file->Read(buffer, sizeof buffer)) {
        ASSERT_EQ(n, sizeof buffer) << "only the last read may be short";
        if (static_cast<unsigned char>(buffer[0]) != (total / 4096) % 251 ||
            static_cast<unsigned char>(buffer[4095]) != (total / 4096) % 251) {
            ++wrongBlocks;
        }
        total += n;
        if (total % (4 << 20) == 0) {
            peak = std::max(peak, MemoryInUseKiB());
        }
    }
    EXPECT_EQ(total, kSize);
    EXPECT_EQ(wrongBlocks, 0u);
    // 1 MiB of read-ahead plus libcurl's buffers; the rest is room for the server thread.
    EXPECT_LT(peak - before, 8 * 1024) << "memory in use grew by " << (peak - before) << " KiB";
}

TEST(InternetSessionResponseTest, ReusesOneConnectionForSequentialRequests) {
    TestHttpServer server;
    server.Server().Get("/small", [](const auto&, auto& res) {
        res.set_content(std::string(100000, 's'), "text/plain");
    });
    server.Server().Get("/large", [](const auto&, auto& res) {
        res.set_content(std::string(8 << 20, 'l'), "text/plain");
    });
    server.Start();

    InternetSession session;
    for (int i = 0; i < 6; ++i) {
        auto file = session.OpenURL(server.Url("/small"));
        EXPECT_EQ(ReadAll(*file).size(), 100000u);
    }
    // A short unread rest is read away on close, so the connection survives...
    session.OpenURL(server.Url("/small"))->Close();
    EXPECT_EQ(ReadAll(*session.OpenURL(server.Url("/small"))).size(), 100000u);
    EXPECT_EQ(server.RequestCount(), 8u);
    EXPECT_EQ(server.ConnectionCount(), 1u);

    // ...while a long one is cut with its connection.
    auto large = session.OpenURL(server.Url("/large"));
    char some[4096];
    EXPECT_EQ(large->Read(some, sizeof some), sizeof some);
    large->Close();
    EXPECT_EQ(large->Read(some, sizeof some), 0u) << "a closed response has no more body";
    EXPECT_EQ(ReadAll(*session.OpenURL(server.Url("/small"))).size(), 100000u);
    EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(InternetSessionResponseTest, SeekToBeginStartsTheBodyOverOnlyOnceItWasRead) {
    TestHttpServer server;
    server.Server().Get(
        "/text", [](const auto&, auto& res) { res.set_content("0123456789", "text/plain"); });
    server.Start();

    InternetSession session;
    auto file = session.OpenURL(server.Url("/text"));
    file->SeekToBegin();
    EXPECT_EQ(server.RequestCount(), 1u) << "nothing read yet: nothing to do";
    char head[4];
    ASSERT_EQ(file->Read(head, sizeof head), 4u);
    file->SeekToBegin();
    EXPECT_EQ(ReadAll(*file), "0123456789");
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(InternetSessionResponseTest, FolderServerServesFilesWithTheirTimes) {
    test::TempFolder folder;
    const auto path = folder.WriteFile("sub/data.bin", std::string(300000, 'd'));
    utimbuf times{};
    times.actime = times.modtime = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    folder.WriteFile("empty.txt", "");
    test::FolderServer server(folder.Path());

    InternetSession session;
    auto file = session.OpenURL(server.Url("/sub/data.bin"));
    EXPECT_EQ(Status(*file), 200u);
    SYSTEMTIME time;
    ASSERT_TRUE(file->QueryInfoLastModified(time));
    EXPECT_EQ(time.wYear, 1994);
    EXPECT_EQ(time.wHour, 8);
    EXPECT_EQ(time.wSecond, 37);
    std::uint32_t length = 0;
    ASSERT_TRUE(file->QueryInfoContentLength(length));
    EXPECT_EQ(length, 300000u);
    EXPECT_EQ(ReadAll(*file), std::string(300000, 'd'));

    EXPECT_EQ(ReadAll(*session.OpenURL(server.Url("/empty.txt"))), "");
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/nothing.bin"))), 404u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/sub"))), 404u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/sub/%2e%2e/sub/data.bin"))), 403u);
}

}  // namespace
}  // namespace zephyrate
