// Responses of well-behaved servers: status codes, headers, bodies of every size, and
// connection reuse.
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; g++ 12 ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <chrono>
#include <fstream>
#include <string>

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

// One server for the tests below, fresh for each: its counts are each test's own.
class InternetSessionResponseTest : public ::testing::Test {
  protected:
    InternetSessionResponseTest() {
        auto& s = server_.Server();
        s.Get(R"(/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("status " + std::string(req.matches[1]), "text/plain");
            if (res.status == 301) {
                res.set_header("Location", "/200");
            } else if (res.status == 401) {
                res.set_header("WWW-Authenticate", "Basic realm=\"x\"");
            }
        });
        s.Get("/dated", [](const httplib::Request& req, httplib::Response& res) {
            if (req.has_param("date")) {
                res.set_header("Last-Modified", req.get_param_value("date"));
            }
            res.set_content("x", "text/plain");
        });
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](std::size_t offset, auto& sink) {
                const std::string piece(10000, static_cast<char>('a' + offset / 10000));
                return offset < 30000 ? sink.write(piece.data(), piece.size())
                                      : (sink.done(), true);
            });
        });
        s.Get("/small", [](const auto&, auto& res) {
            res.set_content(std::string(100000, 's'), "text/plain");
        });
        s.Get("/large", [](const auto&, auto& res) {
            res.set_content(std::string(8 << 20, 'l'), "text/plain");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(
                std::size_t{1} << 30, "application/octet-stream",
                [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    // Byte i of the body is i / 4096 modulo 251.
                    std::string block(std::min<std::size_t>(length, 65536), '\0');
                    for (std::size_t i = 0; i < block.size(); ++i) {
                        block[i] = static_cast<char>(((offset + i) / 4096) % 251);
                    }
                    return sink.write(block.data(), block.size());
                });
        });
        server_.Start();
    }

    std::unique_ptr<HttpFile> Open(const std::string& path) {
        return session_.OpenURL(server_.Url(path));
    }

    TestHttpServer server_;
    InternetSession session_;
};

TEST_F(InternetSessionResponseTest, ReportsStatusCodesAndFollowsRedirects) {
    const std::pair<const char*, std::uint32_t> cases[] = {{"/200", 200},     {"/301", 200},
                                                           {"/399", 399},     {"/401", 401},
                                                           {"/missing", 404}, {"/500", 500}};
    for (const auto& [path, status] : cases) {
        auto file = Open(path);
        EXPECT_EQ(Status(*file), status) << path;
        const std::string body = ReadAll(*file);
        if (status != 404) {
            EXPECT_EQ(body, "status " + std::to_string(status)) << path;
        }
    }
}

TEST_F(InternetSessionResponseTest, ReadsLastModifiedOrLeavesTheTimeAlone) {
    SYSTEMTIME time;
    ASSERT_TRUE(Open("/dated?date=Sun,%2006%20Nov%201994%2008:49:37%20%2B0000")
                    ->QueryInfoLastModified(time));
    EXPECT_EQ(time, (SYSTEMTIME{1994, 11, 0, 6, 8, 49, 37}));
    SYSTEMTIME untouched;
    untouched.wYear = 1234;
    EXPECT_FALSE(Open("/dated")->QueryInfoLastModified(untouched));
    EXPECT_FALSE(Open("/dated?date=soon")->QueryInfoLastModified(untouched));
    EXPECT_EQ(untouched.wYear, 1234);
}

TEST_F(InternetSessionResponseTest, ReadsChunkedBodiesWithoutALength) {
    auto file = Open("/chunked");
    std::uint32_t length = 77;
    EXPECT_FALSE(file->QueryInfoContentLength(length));
    EXPECT_EQ(ReadAll(*file, 3000),
              std::string(10000, 'a') + std::string(10000, 'b') + std::string(10000, 'c'));
}

TEST_F(InternetSessionResponseTest, ReturnsAtTheHeadersWithoutWaitingForTheBody) {
    // The body comes only after the client gave up waiting for it: OpenURL must not wait.
    test::RawHttpServer raw([](test::RawHttpServer::Connection& c) {
        std::string request = c.ReadRequest();
        if (request.find("GET /huge ") != std::string::npos) {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello");
            c.Reset();
            return;
        }
        if (request.find("GET /start ") != std::string::npos) {
            c.Send("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n");
            request = c.ReadRequest();
        }
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
        c.WaitForClientClose(std::chrono::seconds(1));
        c.Send("late!");
    });
    std::uint32_t length = 0;
    for (const char* path : {"/final", "/start"}) {
        const auto start = std::chrono::steady_clock::now();
        auto file = session_.OpenURL(raw.Url(path));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << path;
        EXPECT_EQ(Status(*file), 200u);
        ASSERT_TRUE(file->QueryInfoContentLength(length));
        EXPECT_EQ(length, 5u);
        EXPECT_EQ(ReadAll(*file), "late!");
    }
    // A length above 4 GiB is reported by its low 32 bits.
    ASSERT_TRUE(session_.OpenURL(raw.Url("/huge"))->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
}

TEST_F(InternetSessionResponseTest, StreamsAGibibyteInBoundedMemory) {
    auto file = Open("/big");
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
    EXPECT_EQ(total, std::size_t{1} << 30);
    EXPECT_EQ(wrongBlocks, 0u);
    // 1 MiB of read-ahead plus libcurl's buffers; the rest is room for the server thread.
    EXPECT_LT(peak - before, 8 * 1024) << "memory in use grew by " << (peak - before) << " KiB";
}

TEST_F(InternetSessionResponseTest, ReusesOneConnectionForSequentialRequests) {
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadAll(*Open("/small")).size(), 100000u);
    }
    // A short unread rest is read away on close, so the connection survives...
    Open("/small")->Close();
    EXPECT_EQ(ReadAll(*Open("/small")).size(), 100000u);
    EXPECT_EQ(server_.RequestCount(), 8u);
    EXPECT_EQ(server_.ConnectionCount(), 1u);

    // ...while a long one is cut with its connection.
    auto large = Open("/large");
    char some[4096];
    EXPECT_EQ(large->Read(some, sizeof some), sizeof some);
    large->Close();
    EXPECT_EQ(large->Read(some, sizeof some), 0u) << "a closed response has no more body";
    EXPECT_EQ(ReadAll(*Open("/small")).size(), 100000u);
    EXPECT_EQ(server_.ConnectionCount(), 2u);
}

TEST_F(InternetSessionResponseTest, SeekToBeginStartsTheBodyOverOnlyOnceItWasRead) {
    auto file = Open("/200");
    file->SeekToBegin();
    EXPECT_EQ(server_.RequestCount(), 1u) << "nothing read yet: nothing to do";
    char head[4];
    ASSERT_EQ(file->Read(head, sizeof head), 4u);
    file->SeekToBegin();
    EXPECT_EQ(ReadAll(*file), "status 200");
    EXPECT_EQ(server_.RequestCount(), 2u);
}

TEST_F(InternetSessionResponseTest, FolderServerServesFilesButNothingAboveOrBesideThem) {
    test::TempFolder folder;
    folder.WriteFile("sub/data.bin", "data");
    folder.WriteFile("empty.txt", "");
    test::FolderServer server(folder.Path());
    InternetSession session;  // closed before the server, which waits for its connections

    EXPECT_EQ(ReadAll(*session.OpenURL(server.Url("/sub/data.bin"))), "data");
    EXPECT_EQ(ReadAll(*session.OpenURL(server.Url("/empty.txt"))), "");
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/nothing.bin"))), 404u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/sub"))), 404u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/sub/%2e%2e/sub/data.bin"))), 403u);
}

}  // namespace
}  // namespace zephyrate
