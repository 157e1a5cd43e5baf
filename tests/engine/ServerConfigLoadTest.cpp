#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "engine/ServerConfig.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"

namespace zephyrate {
namespace {

using test::RawHttpServer;

constexpr std::string_view kIndex = "Header:zephyrate v1.0\r\nFile: a.htm # first\r\nFile: b.htm";

// What a job gets of an index answered with these bytes: its text, or nothing when the
// answer must not be used (an error at opening or reading, or a refusal).
std::optional<std::string> Loaded(const std::string& answer) {
    RawHttpServer server([&](RawHttpServer::Connection& connection) {
        connection.ReadRequest();
        connection.Send(answer);
    });
    InternetSession session;
    try {
        std::unique_ptr<HttpFile> response =
            session.OpenURL(server.Url("/index.txt"), 0, BodyFraming::UntilClose);
        ServerConfig config;
        if (!config.Load(*response)) {
            return std::nullopt;
        }
        return config.Text();
    } catch (const InternetError&) {
        return std::nullopt;
    }
}

std::string Chunked(std::string_view body) {
    std::string chunks;
    for (std::size_t at = 0; at < body.size(); at += 0x8000) {
        const std::string_view piece = body.substr(at, 0x8000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        chunks.append(size).append(piece).append("\r\n");
    }
    return chunks + "0\r\n\r\n";
}

TEST(ServerConfigLoadTest, TheIndexArrivesWholeOrNotAtAll) {
    const std::string head = "HTTP/1.1 200 OK\r\n";
    const std::string body(kIndex);
    const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const std::string large = "Header:zephyrate v1.0\n" + std::string(70000, 'x');
    const struct {
        std::string answer;
        std::optional<std::string> text;
    } cases[] = {
        {head + length + "\r\n" + body,
         "Header:zephyrate v1.0\r\nFile: a.htm \nFile: b.htm\n"},  // the '#' takes the CR
        // No length: read to the end, not cut at some size.
        {head + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(large), large + "\n"},
        {head + "\r\n" + large, large + "\n"},
        // Read to the close, a body longer or shorter than announced is refused (how the
        // transport refuses contradictory framing is its own test's).
        {head + "Content-Length: 30\r\n\r\n" + large, std::nullopt},
        {head + "Content-Length: 4000000000\r\n\r\n" + body, std::nullopt},
        {head + "\r\n" + std::string(ServerConfig::kMaxLength + 1, 'x'), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Loaded(c.answer), c.text) << c.answer.substr(0, 120);
    }
}

}  // namespace
}  // namespace zephyrate
