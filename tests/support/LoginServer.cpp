#include "tests/support/LoginServer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
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

bool DigestAccepted(const std::string& header, const std::string& target, const std::string& user,
                    const std::string& password) {
    if (!header.starts_with("Digest ")) {
        return false;
    }
    std::map<std::string, std::string> p;  // "Digest a=b, c="d"": no value here holds a comma
    std::istringstream pairs(header.substr(7));
    for (std::string pair; std::getline(pairs >> std::ws, pair, ',');) {
        const std::size_t equals = pair.find('=');
        std::string value = pair.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        p[pair.substr(0, equals)] = value;
    }
    if (p["username"] != user || p["realm"] != kRealm || p["nonce"] != kNonce ||
        p["uri"] != target || p["qop"] != "auth") {
        return false;
    }
    const std::string ha1 = Coreutil("md5sum", user + ":" + kRealm + ":" + password);
    const std::string ha2 = Coreutil("md5sum", "GET:" + target);
    return p["response"] == Coreutil("md5sum", ha1 + ":" + kNonce + ":" + p["nc"] + ":" +
                                                   p["cnonce"] + ":auth:" + ha2);
}

}  // namespace

LoginServer::LoginServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
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

std::string LoginServer::Reply(HttpFile* response) {
    std::uint32_t status = 0;
    if (response == nullptr || !response->QueryInfoStatusCode(status)) {
        return "none";
    }
    std::string reply = std::to_string(status) + " ";
    char chunk[4096];
    while (std::size_t n = response->Read(chunk, sizeof chunk)) {
        reply.append(chunk, n);
    }
    return reply;
}

void LoginServer::SetLogin(std::string user, std::string password) {
    std::lock_guard lock(mutex_);
    user_ = std::move(user);
    password_ = std::move(password);
}

void LoginServer::RefuseAfterNextAccept(std::size_t logins) {
    std::lock_guard lock(mutex_);
    refuseAfterAccept_ = logins;
}

std::vector<std::string> LoginServer::Authorizations() const {
    std::lock_guard lock(mutex_);
    return authorizations_;
}

std::size_t LoginServer::AcceptedCount(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::ranges::count(accepted_, path));
}

void LoginServer::Answer(const httplib::Request& req, httplib::Response& res, bool digest) {
    const std::string header = req.get_header_value("Authorization");
    std::lock_guard lock(mutex_);
    bool accepted = digest ? DigestAccepted(header, req.target, user_, password_)
                           : header == "Basic " + Coreutil("base64 -w0", user_ + ":" + password_);
    if (refuseNow_ > 0 && !header.empty()) {
        --refuseNow_;
        accepted = false;
    } else if (accepted && refuseAfterAccept_ > 0) {
        refuseNow_ = std::exchange(refuseAfterAccept_, 0);
    }
    authorizations_.push_back(header);
    if (accepted) {
        accepted_.push_back(req.path);
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

}  // namespace zephyrate::test
