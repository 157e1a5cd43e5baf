// How responses are paced over the connections a session keeps: servers that hold back
// the end of a response until it is acknowledged, slow servers that must not keep a
// processor busy, and many responses alive at once or in several threads, each with its
// own body.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAll(HttpFile& file) {
    std::string all;
    char chunk[4096];
    while (std::size_t n = file.Read(chunk, sizeof chunk)) {
        all.append(chunk, n);
    }
    return all;
}

// Body of /N: 150,000 bytes of one letter, so that a mix-up shows.
std::string BodyOf(int n) {
    return std::string(150000, static_cast<char>('a' + n % 26));
}

TEST(InternetSessionPaceTest, AServerThatHoldsBackTheEndOfAResponseIsNotKeptWaiting) {
    // Every response leaves in two writes; with Nagle's rule the short second one waits
    // until the first is acknowledged. A client that delays its acknowledgement (40 ms on
    // Linux) would wait that long for many of these responses.
    constexpr int kRequests = 40;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 62000\r\n\r\n";
    test::RawHttpServer server([&](test::RawHttpServer::Connection& c) {
        while (!c.ReadRequest().empty()) {
            c.Send(head + std::string(60000, 'x'));
            c.Send(std::string(2000, 'y'));
        }
    });
    InternetSession session;
    const auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
        auto file = session.OpenURL(server.Url("/" + std::to_string(i)));
        if (i % 2 == 0) {
            ASSERT_EQ(ReadAll(*file), std::string(60000, 'x') + std::string(2000, 'y')) << i;
        } else {
            file->Close();  // a short rest is read away, which also waits for the end
        }
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    // Without the fix most requests wait 40 ms (well over a second in all).
    EXPECT_LT(took.count(), kRequests * 40 / 4) << "ms for " << kRequests << " requests";
}

std::chrono::microseconds ThreadProcessorTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::duration_cast<std::chrono::microseconds>(
                                                  std::chrono::nanoseconds(now.tv_nsec));
}

TEST(InternetSessionPaceTest, WaitingForASlowServerKeepsNoProcessorBusy) {
    // Each answer comes 30 ms after its request, and its body in four pieces 30 ms apart:
    // a wait that checked the socket without sleeping all along would burn over a second.
    constexpr int kRequests = 6;
    test::RawHttpServer server([&](test::RawHttpServer::Connection& c) {
        while (!c.ReadRequest().empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n");
            for (int piece = 0; piece < 4; ++piece) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                c.Send(std::string(1000, 'z'));
            }
        }
    });
    InternetSession session;
    const auto wallStart = Clock::now();
    const auto processorStart = ThreadProcessorTime();
    for (int i = 0; i < kRequests; ++i) {
        auto file = session.OpenURL(server.Url("/" + std::to_string(i)));
        ASSERT_EQ(ReadAll(*file), std::string(4000, 'z')) << i;
    }
    const auto busy = std::chrono::duration_cast<std::chrono::milliseconds>(ThreadProcessorTime() -
                                                                            processorStart);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - wallStart);
    EXPECT_GE(took.count(), kRequests * 150);
    // Each request may check for its answer briefly (a tenth of a millisecond) before
    // sleeping; the rest of the 900 ms is spent asleep.
    EXPECT_LT(busy.count(), took.count() / 10) << "ms busy of " << took.count() << " ms";
}

TEST(InternetSessionPaceTest, ResponsesAliveAtOnceOrInThreadsEachReadTheirOwnBody) {
    test::TestHttpServer server;
    server.Server().Get(R"(/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(BodyOf(std::stoi(req.matches[1])), "application/octet-stream");
    });
    server.Start();
    InternetSession session;

    // More responses open at once than the session keeps handles for, read in turns.
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<HttpFile>> files;
        std::vector<std::string> bodies(7);
        for (int i = 0; i < 7; ++i) {
            files.push_back(session.OpenURL(server.Url("/" + std::to_string(i + round))));
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
            EXPECT_EQ(bodies[i], BodyOf(i + round)) << "round " << round << ", response " << i;
        }
    }

    // Threads that open, read or close, one response after another.
    std::vector<int> wrong(3, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 30; ++i) {
                auto file = session.OpenURL(server.Url("/" + std::to_string(t * 30 + i)));
                if (i % 3 == 2) {
                    file->Close();
                } else if (ReadAll(*file) != BodyOf(t * 30 + i)) {
                    ++wrong[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(3, 0));
}

}  // namespace
}  // namespace zephyrate
