// Logins against real servers: Basic, and Digest checked by the test's own server side
// (cpp-httplib has none); per-request logins, the session login, the login that the
// session remembers per server, and the order in which they apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/InternetSession.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate {
namespace {

// What a coreutils program prints first for the text; md5sum and base64 serve to check
// the logins (a wrong value fails them).
std::string Coreutil(const std::string& program, const std::string& text) {
    const test::TempFolder folder;
    const std::string command = program + " " + folder.WriteFile("text", text).string();
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[256];
    while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
        out += chunk;
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return out.substr(0, out.find_first_of(" \n"));
}
std::string Md5Hex(const std::string& text) {
    return Coreutil("md5sum", text);
}

// Parameters of a "Digest a=b, c="d"" header.
std::map<std::string, std::string> DigestParameters(const std::string& header) {
    std::map<std::string, std::string> result;
    std::size_t pos = header.find(' ');
    while (pos != std::string::npos &&
           (pos = header.find_first_not_of(", ", pos)) != std::string::npos) {
        const std::size_t equals = header.find('=', pos);
        if (equals == std::string::npos) {
            break;
        }
        const std::size_t quoted = header[equals + 1] == '"' ? 1 : 0;
        const std::size_t end = header.find(quoted ? '"' : ',', equals + 1 + quoted);
        result[header.substr(pos, equals - pos)] = header.substr(
            equals + 1 + quoted, end == std::string::npos ? end : end - equals - 1 - quoted);
        pos = end == std::string::npos ? end : end + quoted;
    }
    return result;
}

// A server with Basic and Digest areas for one login, which records what it was sent.
class LoginServer {
  public:
    LoginServer(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {
        server_.Server().Get("/basic.*", [this](const auto& req, auto& res) {
            const std::string expected = "Basic " + Coreutil("base64 -w0", user_ + ":" + password_);
            Answer(req, res, req.get_header_value("Authorization") == expected, "basic secret",
                   "Basic realm=\"zephyrate\"");
        });
        server_.Server().Get("/digest", [this](const auto& req, auto& res) {
            Answer(req, res, DigestAccepted(req), "digest secret",
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

    void Answer(const httplib::Request& req, httplib::Response& res, bool accepted,
                const char* secret, const std::string& challenge) {
        {
            std::lock_guard lock(mutex_);
            authorizations_.push_back(req.get_header_value("Authorization"));
        }
        if (accepted) {
            res.set_content(secret, "text/plain");
        } else {
            res.status = 401;
            res.set_header("WWW-Authenticate", challenge);
            res.set_content("login please", "text/plain");
        }
    }

    bool DigestAccepted(const httplib::Request& req) const {
        const std::string header = req.get_header_value("Authorization");
        auto p = DigestParameters(header);
        if (header.rfind("Digest ", 0) != 0 || p["username"] != user_ ||
            p["realm"] != "zephyrate" || p["nonce"] != kNonce || p["uri"] != req.target ||
            p["qop"] != "auth") {
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

// Sets the request's login and sends the request again; returns the new status.
std::uint32_t Resend(HttpFile& file, const std::string& user, const std::string& password) {
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_USERNAME, user));
    EXPECT_TRUE(file.SetOption(INTERNET_OPTION_PASSWORD, password));
    file.SendRequest();
    return Status(file);
}

TEST(InternetSessionLoginTest, ARequestLoginAnswersBasicAndDigestOnResend) {
    LoginServer server("alice", "wonderland");
    for (const char* path : {"/basic", "/digest"}) {
        InternetSession session;
        auto file = session.OpenURL(server.Url(path));
        ASSERT_EQ(Status(*file), 401u) << path;

        EXPECT_EQ(Resend(*file, "alice", "looking-glass"), 401u)
            << path << ": a wrong password is not accepted";

        EXPECT_EQ(Resend(*file, "alice", "wonderland"), 200u) << path;
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
    EXPECT_EQ(Resend(*file, "", ""), 200u);
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
    ASSERT_EQ(Resend(*file, "", ""), 401u);
    ASSERT_EQ(Resend(*file, "carol", "guess"), 401u);
    ASSERT_EQ(Resend(*file, "carol", "secret"), 200u);
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
    ASSERT_EQ(Resend(*file, "dave", "right"), 200u);

    EXPECT_EQ(Status(*session.OpenURL(server.Url("/basic"))), 200u)
        << "the remembered login comes before the session's";

    auto wrongAgain = session.OpenURL(server.Url("/basic"));
    EXPECT_EQ(Resend(*wrongAgain, "dave", "wrong"), 401u) << "the request's own login comes first";
}

}  // namespace
}  // namespace zephyrate
