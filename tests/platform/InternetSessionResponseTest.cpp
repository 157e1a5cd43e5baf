// Responses of well-behaved servers: status codes, headers, bodies, connection reuse, and
// many responses alive at once.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

std::string ReadAll(HttpFile& file, std::size_t step = 4096) {
    std::string all;
    std::string chunk(step, '\0');
    while (std::size_t n = file.Read(chunk.data(), chunk.size())) {
        all.append(chunk, 0, n);
    }
    return all;
}

// Body of /body/N: 150,000 bytes of one letter, so that a mix-up shows.
std::string BodyOf(int n) {
    return std::string(150000, static_cast<char>('a' + n % 26));
}

class InternetSessionResponseTest : public ::testing::Test {
  protected:
    InternetSessionResponseTest() {
        auto& s = server_.Server();
        s.Get(R"(/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("status " + std::string(req.matches[1]), "text/plain");
            if (res.status == 301) {
                res.set_header("Location", "/200");
            }
            if (req.has_param("date")) {
                res.set_header("Last-Modified", req.get_param_value("date"));
            }
        });
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](std::size_t offset, auto& sink) {
                const std::string piece(10000, static_cast<char>('a' + offset / 10000));
                return offset < 30000 ? sink.write(piece.data(), piece.size())
                                      : (sink.done(), true);
            });
        });
        s.Get(R"(/body/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(BodyOf(std::stoi(req.matches[1])), "text/plain");
        });
        s.Get("/large", [](const auto&, auto& res) {
            res.set_content(std::string(8 << 20, 'l'), "text/plain");
        });
        server_.Start();
    }

    std::unique_ptr<HttpFile> Open(const std::string& path) {
        return session_.OpenURL(server_.Url(path));
    }

    test::TestHttpServer server_;
    InternetSession session_;
};

TEST_F(InternetSessionResponseTest, ReportsStatusLengthStampAndBody) {
    const struct {
        const char* path;
        std::uint32_t status;
        std::int64_t length;  // -1: none announced
        std::string body;
        bool dated = false;
    } cases[] = {
        {"/200", 200, 10, "status 200"},
        {"/301", 200, 10, "status 200"},
        {"/401", 401, 10, "status 401"},
        {"/500", 500, 10, "status 500"},
        {"/chunked", 200, -1,
         std::string(10000, 'a') + std::string(10000, 'b') + std::string(10000, 'c')},
        {"/200?date=Sun,%2006%20Nov%201994%2010:49:37%20%2B0200", 200, 10, "status 200", true},
        {"/200?date=soon", 200, 10, "status 200"},
    };
    for (const auto& c : cases) {
        auto file = Open(c.path);
        std::uint32_t status = 0;
        EXPECT_TRUE(file->QueryInfoStatusCode(status));
        EXPECT_EQ(status, c.status) << c.path;
        std::uint32_t length = 77;
        EXPECT_EQ(file->QueryInfoContentLength(length), c.length >= 0) << c.path;
        EXPECT_EQ(length, c.length >= 0 ? c.length : 77) << c.path;
        SYSTEMTIME time{1234};
        EXPECT_EQ(file->QueryInfoLastModified(time), c.dated) << c.path;
        const SYSTEMTIME expected =
            c.dated ? SYSTEMTIME{1994, 11, 0, 6, 8, 49, 37} : SYSTEMTIME{1234};
        EXPECT_EQ(time, expected) << c.path;
        EXPECT_EQ(ReadAll(*file, 3000), c.body) << c.path;
    }
}

TEST_F(InternetSessionResponseTest, ReusesOneConnectionAndSeeksOnlyAfterARead) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadAll(*Open("/body/1")), BodyOf(1));
    }
    // A short unread rest is read away on close, so the connection survives...
    Open("/body/1")->Close();
    auto file = Open("/200");
    file->SeekToBegin();  // nothing read yet: nothing to do
    char head[4];
    ASSERT_EQ(file->Read(head, sizeof head), 4u);
    file->SeekToBegin();
    EXPECT_EQ(ReadAll(*file), "status 200");
    EXPECT_EQ(server_.RequestCount(), 6u);
    EXPECT_EQ(server_.ConnectionCount(), 1u);

    // ...while a long one is cut with its connection.
    auto large = Open("/large");
    EXPECT_EQ(large->Read(head, sizeof head), sizeof head);
    large->Close();
    EXPECT_EQ(large->Read(head, sizeof head), 0u) << "a closed response has no more body";
    EXPECT_EQ(ReadAll(*Open("/body/1")), BodyOf(1));
    EXPECT_EQ(server_.ConnectionCount(), 2u);
}

TEST_F(InternetSessionResponseTest, ResponsesAliveAtOnceEachReadTheirOwnBody) {
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
    test::RawHttpServer raw([&](test::RawHttpServer::Connection& c) {
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
    std::uint32_t length = 0;
    auto file = session.OpenURL(raw.Url("/start"));  // after a redirect too
    opened.set_value();
    ASSERT_TRUE(file->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(ReadAll(*file), "late!");
    // A length above 4 GiB is reported by its low 32 bits.
    ASSERT_TRUE(session.OpenURL(raw.Url("/huge"))->QueryInfoContentLength(length));
    EXPECT_EQ(length, 5u);
}

}  // namespace
}  // namespace zephyrate
