// Logins against real servers: Basic, and Digest checked by the test's own server side
// (cpp-httplib has none); per-request logins, the session login, the login that the
// session remembers per server, and the order in which they apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

// --- MD5 (RFC 1321), only for checking Digest answers ---------------------------------

std::string Md5Hex(const std::string& message) {
    static constexpr std::array<std::uint32_t, 64> k = [] {
        std::array<std::uint32_t, 64> table{};
        const std::uint32_t values[64] = {
            0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
            0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
            0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
            0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
            0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
            0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
            0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
            0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
            0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
            0xeb86d391};
        for (int i = 0; i < 64; ++i) {
            table[static_cast<std::size_t>(i)] = values[i];
        }
        return table;
    }();
    static constexpr int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    std::string data = message;
    const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    data += static_cast<char>(0x80);
    while (data.size() % 64 != 56) {
        data += '\0';
    }
    for (int i = 0; i < 8; ++i) {
        data += static_cast<char>((bits >> (8 * i)) & 0xff);
    }
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (std::size_t block = 0; block < data.size(); block += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(data.data() + block + 4 * i);
            w[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f = 0;
            int g = 0;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t sum = a + f + k[static_cast<std::size_t>(i)] + w[g];
            a = d;
            d = c;
            c = b;
            b = b + ((sum << shifts[i]) | (sum >> (32 - shifts[i])));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    std::string hex;
    for (std::uint32_t word : h) {
        for (int i = 0; i < 4; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof byte, "%02x", (word >> (8 * i)) & 0xff);
            hex += byte;
        }
    }
    return hex;
}

std::string Base64(const std::string& text) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::uint32_t n = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size())
            n |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (i + 2 < text.size())
            n |= static_cast<unsigned char>(text[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < text.size() ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < text.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

// Parameters of a "Digest a=b, c="d"" header.
std::map<std::string, std::string> DigestParameters(const std::string& header) {
    std::map<std::string, std::string> result;
    std::size_t pos = header.find(' ');
    while (pos != std::string::npos && pos < header.size()) {
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == ','))
            ++pos;
        std::size_t eq = header.find('=', pos);
        if (eq == std::string::npos)
            break;
        std::string key = header.substr(pos, eq - pos);
        std::string value;
        pos = eq + 1;
        if (pos < header.size() && header[pos] == '"') {
            std::size_t close = header.find('"', pos + 1);
            value = header.substr(pos + 1, close - pos - 1);
            pos = close == std::string::npos ? close : close + 1;
        } else {
            std::size_t comma = header.find(',', pos);
            value =
                header.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            pos = comma;
        }
        result[key] = value;
    }
    return result;
}

// A server with Basic and Digest areas for one login, which records what it was sent.
class LoginServer {
  public:
    LoginServer(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {
        server_.Server().Get("/basic.*",
                             [this](const httplib::Request& req, httplib::Response& res) {
                                 Record(req);
                                 if (req.get_header_value("Authorization") ==
                                     "Basic " + Base64(user_ + ":" + password_)) {
                                     res.set_content("basic secret", "text/plain");
                                     return;
                                 }
                                 res.status = 401;
                                 res.set_header("WWW-Authenticate", "Basic realm=\"zephyrate\"");
                                 res.set_content("login please", "text/plain");
                             });
        server_.Server().Get(
            "/digest", [this](const httplib::Request& req, httplib::Response& res) {
                Record(req);
                if (DigestAccepted(req)) {
                    res.set_content("digest secret", "text/plain");
                    return;
                }
                res.status = 401;
                res.set_header("WWW-Authenticate",
                               "Digest realm=\"zephyrate\", qop=\"auth\", nonce=\"" + kNonce +
                                   "\", algorithm=MD5");
            });
        server_.Start();
    }

    std::string Url(const std::string& path) const { return server_.Url(path); }
    std::vector<std::string> Authorizations() const {
        std::lock_guard lock(mutex_);
        return authorizations_;
    }

  private:
    inline static const std::string kNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";

    void Record(const httplib::Request& req) {
        std::lock_guard lock(mutex_);
        authorizations_.push_back(req.get_header_value("Authorization"));
    }

    bool DigestAccepted(const httplib::Request& req) const {
        const std::string header = req.get_header_value("Authorization");
        if (header.rfind("Digest ", 0) != 0) {
            return false;
        }
        auto p = DigestParameters(header);
        if (p["username"] != user_ || p["realm"] != "zephyrate" || p["nonce"] != kNonce ||
            p["uri"] != req.target || p["qop"] != "auth") {
            return false;
        }
        const std::string ha1 = Md5Hex(user_ + ":zephyrate:" + password_);
        const std::string ha2 = Md5Hex("GET:" + p["uri"]);
        return p["response"] ==
               Md5Hex(ha1 + ":" + kNonce + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
    }

    std::string user_;
    std::string password_;
    test::TestHttpServer server_;
    mutable std::mutex mutex_;
    std::vector<std::string> authorizations_;
};

std::uint32_t Status(const HttpFile& file) {
    std::uint32_t status = 0;
    EXPECT_TRUE(file.QueryInfoStatusCode(status));
    return status;
}

std::string ReadAll(HttpFile& file) {
    std::string all;
    char chunk[4096];
    while (std::size_t n = file.Read(chunk, sizeof chunk)) {
        all.append(chunk, n);
    }
    return all;
}

void Login(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
}

TEST(InternetSessionLoginTest, Md5MatchesTheReferenceVectors) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(InternetSessionLoginTest, ARequestLoginAnswersBasicAndDigestOnResend) {
    LoginServer server("alice", "wonderland");
    for (const char* path : {"/basic", "/digest"}) {
        InternetSession session;
        auto file = session.OpenURL(server.Url(path));
        ASSERT_EQ(Status(*file), 401u) << path;

        Login(*file, "alice", "looking-glass");
        file->SendRequest();
        EXPECT_EQ(Status(*file), 401u) << path << ": a wrong password is not accepted";

        Login(*file, "alice", "wonderland");
        file->SendRequest();
        EXPECT_EQ(Status(*file), 200u) << path;
        EXPECT_EQ(ReadAll(*file), std::string(path + 1) + " secret");
    }
    auto seen = server.Authorizations();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Basic YWxpY2U6d29uZGVybGFuZA=="), seen.end());
}

TEST(InternetSessionLoginTest, AnEmptyLoginIsOfferedOnResend) {
    LoginServer server("", "");
    InternetSession session;
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u);
    Login(*file, "", "");
    file->SendRequest();
    EXPECT_EQ(Status(*file), 200u);
    EXPECT_EQ(server.Authorizations().back(), "Basic Og==");
}

TEST(InternetSessionLoginTest, TheSessionLoginIsCarriedByLaterRequests) {
    LoginServer server("bob", "builder");
    InternetSession session;
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 401u);
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_USERNAME, "bob"));
    EXPECT_TRUE(session.SetOption(INTERNET_OPTION_PASSWORD, "builder"));
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 200u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/digest"))), 200u);
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic/other"))), 200u);
    // An empty session login is no login.
    session.SetOption(INTERNET_OPTION_USERNAME, "");
    session.SetOption(INTERNET_OPTION_PASSWORD, "");
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 401u);
}

TEST(InternetSessionLoginTest, TheLoginLoopEndsWithAFreshOpenThatNeedsNoQuestion) {
    LoginServer server("carol", "secret");
    LoginServer otherServer("carol", "secret");
    InternetSession session;

    // What the engine does: empty login first, then what the user types until it works.
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u);
    Login(*file, "", "");
    file->SendRequest();
    ASSERT_EQ(Status(*file), 401u);
    Login(*file, "carol", "guess");
    file->SendRequest();
    ASSERT_EQ(Status(*file), 401u);
    Login(*file, "carol", "secret");
    file->SendRequest();
    ASSERT_EQ(Status(*file), 200u);
    file.reset();

    // The remembered login serves the same server (also other paths and schemes of
    // challenge)...
    auto fresh = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Status(*fresh), 200u);
    EXPECT_EQ(ReadAll(*fresh), "basic secret");
    EXPECT_EQ(Status(*session.OpenURL(server.Url("/digest"))), 200u);
    // ...but not another server.
    EXPECT_EQ(Status(*session.OpenURL(otherServer.Url("/basic"))), 401u);
    for (const std::string& sent : otherServer.Authorizations()) {
        EXPECT_EQ(sent, "") << "the login leaked to another server";
    }
}

TEST(InternetSessionLoginTest, RequestLoginBeatsRememberedLoginBeatsSessionLogin) {
    LoginServer server("dave", "right");
    InternetSession session;
    session.SetOption(INTERNET_OPTION_USERNAME, "dave");
    session.SetOption(INTERNET_OPTION_PASSWORD, "wrong");
    auto file = session.OpenURL(server.Url("/basic"));
    ASSERT_EQ(Status(*file), 401u) << "the session login is wrong";
    Login(*file, "dave", "right");
    file->SendRequest();
    ASSERT_EQ(Status(*file), 200u);

    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 200u)
        << "the remembered login comes before the session's";

    auto wrongAgain = session.OpenURL(server.Url("/basic"));
    Login(*wrongAgain, "dave", "wrong");
    wrongAgain->SendRequest();
    EXPECT_EQ(Status(*wrongAgain), 401u) << "the request's own login comes first";
}

}  // namespace
}  // namespace zephyrate
