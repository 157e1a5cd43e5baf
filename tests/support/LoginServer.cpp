#include "tests/support/LoginServer.h"

#include <cstdio>
#include <map>
#include <utility>

#include "tests/support/TempFolder.h"

namespace zephyrate::test {

namespace {

const std::string kRealm = "zephyrate";
const std::string kNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";

// What a coreutils program prints first for the text. md5sum and base64 check the logins,
// so that the server does not share an encoder's mistakes with the client it tests.
std::string Coreutil(const std::string& program, const std::string& text) {
    const TempFolder folder;
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

}  // namespace

LoginServer::LoginServer(std::string user, std::string password)
    : login_{std::move(user), std::move(password)} {
    server_.Server().Get("/basic(/.*)?",
                         [this](const auto& req, auto& res) { Answer(req, res, false); });
    server_.Server().Get("/digest(/.*)?",
                         [this](const auto& req, auto& res) { Answer(req, res, true); });
    server_.Server().Get(R"(/status/(\d+))", [](const auto& req, auto& res) {
        res.status = std::stoi(req.matches[1].str());
        res.set_content("status " + req.matches[1].str(), "text/plain");
    });
    server_.Start();
}

std::string LoginServer::Address(std::string_view path) const {
    return "127.0.0.1:" + std::to_string(server_.Port()) + std::string(path);
}

void LoginServer::SetLogin(std::string user, std::string password) {
    std::lock_guard lock(mutex_);
    login_ = {std::move(user), std::move(password)};
}

void LoginServer::RefuseAfterNextAccept(std::size_t logins) {
    std::lock_guard lock(mutex_);
    refuseAfterAccept_ = logins;
}

std::vector<LoginServer::Request> LoginServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> LoginServer::Authorizations() const {
    std::vector<std::string> sent;
    for (const Request& request : Requests()) {
        sent.push_back(request.authorization);
    }
    return sent;
}

std::size_t LoginServer::RequestCount(std::string_view path) const {
    std::size_t count = 0;
    for (const Request& request : Requests()) {
        count += request.path == path ? 1 : 0;
    }
    return count;
}

std::size_t LoginServer::AcceptedCount(std::string_view path) const {
    std::size_t count = 0;
    for (const Request& request : Requests()) {
        count += request.path == path && request.accepted ? 1 : 0;
    }
    return count;
}

void LoginServer::Answer(const httplib::Request& req, httplib::Response& res, bool digest) {
    Login login;
    {
        std::lock_guard lock(mutex_);
        login = login_;
    }
    bool accepted = digest ? DigestAccepted(req, login) : BasicAccepted(req, login);
    {
        std::lock_guard lock(mutex_);
        if (refuseNow_ > 0 && req.has_header("Authorization")) {
            --refuseNow_;
            accepted = false;
        } else if (accepted && refuseAfterAccept_ > 0) {
            refuseNow_ = std::exchange(refuseAfterAccept_, 0);
        }
        requests_.push_back({req.path, req.get_header_value("Authorization"), accepted});
    }
    if (accepted) {
        res.set_content(Body(req.path), "text/plain");
        return;
    }
    res.status = 401;
    res.set_header("WWW-Authenticate", digest ? "Digest realm=\"" + kRealm +
                                                    "\", qop=\"auth\", nonce=\"" + kNonce +
                                                    "\", algorithm=MD5"
                                              : "Basic realm=\"" + kRealm + "\"");
    res.set_content("login please", "text/plain");
}

bool LoginServer::BasicAccepted(const httplib::Request& req, const Login& login) {
    return req.get_header_value("Authorization") ==
           "Basic " + Coreutil("base64 -w0", login.user + ":" + login.password);
}

bool LoginServer::DigestAccepted(const httplib::Request& req, const Login& login) {
    const std::string header = req.get_header_value("Authorization");
    auto p = DigestParameters(header);
    if (header.rfind("Digest ", 0) != 0 || p["username"] != login.user || p["realm"] != kRealm ||
        p["nonce"] != kNonce || p["uri"] != req.target || p["qop"] != "auth") {
        return false;
    }
    const std::string ha1 = Md5Hex(login.user + ":" + kRealm + ":" + login.password);
    const std::string ha2 = Md5Hex("GET:" + p["uri"]);
    return p["response"] ==
           Md5Hex(ha1 + ":" + kNonce + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
}

}  // namespace zephyrate::test
