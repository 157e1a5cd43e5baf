// The proxy options against a real tinyproxy: which requests go through it is read from
// its own log.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate {
namespace {

// Sets or clears environment variables for one test and puts them back afterwards.
class ScopedEnvironment {
  public:
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    void Set(const std::string& name, const char* value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value != nullptr) {
            setenv(name.c_str(), value, 1);
        } else {
            unsetenv(name.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class InternetSessionProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.Server().Get(
            "/hello", [](const auto&, auto& res) { res.set_content("hello", "text/plain"); });
        server_.Start();
        // The machine's own proxy settings must not mix in.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            environment_.Set(name, nullptr);
        }
    }

    std::string Fetch(InternetSession& session, std::uint32_t* status = nullptr) {
        auto file = session.OpenURL(server_.Url("/hello"));
        std::uint32_t code = 0;
        file->QueryInfoStatusCode(code);
        if (status != nullptr) {
            *status = code;
        }
        char buffer[64];
        return std::string(buffer, file->Read(buffer, sizeof buffer));
    }

    bool ProxyLogged(const test::TinyProxy& proxy) const {
        return proxy.Log().find("GET " + server_.Url("/hello")) != std::string::npos;
    }

    test::TestHttpServer server_;
    ScopedEnvironment environment_;
};

TEST_F(InternetSessionProxyTest, AManualProxyCarriesTheRequests) {
    test::TinyProxy proxy;
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PROXY, proxy.Address());
    EXPECT_EQ(Fetch(session), "hello");
    EXPECT_TRUE(ProxyLogged(proxy)) << proxy.Log();
}

TEST_F(InternetSessionProxyTest, DirectBypassesTheEnvironmentsProxyAndPreconfigUsesIt) {
    test::TinyProxy proxy;
    environment_.Set("http_proxy", ("http://" + proxy.Address()).c_str());
    InternetSession session;

    session.SetProxy(INTERNET_OPEN_TYPE_DIRECT, proxy.Address());
    EXPECT_EQ(Fetch(session), "hello");
    EXPECT_FALSE(ProxyLogged(proxy)) << "a direct connection went through the proxy";

    session.SetProxy(INTERNET_OPEN_TYPE_PRECONFIG, "");
    EXPECT_EQ(Fetch(session), "hello");
    EXPECT_TRUE(ProxyLogged(proxy)) << "the system setting (http_proxy) was not used";
}

TEST_F(InternetSessionProxyTest, AProxyWithoutPortIsReachedOnPort80) {
    // Only meaningful while nothing listens on port 80 here.
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(80);
    const bool taken = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    if (taken) {
        GTEST_SKIP() << "port 80 is in use on this machine";
    }
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PROXY, "127.0.0.1");
    try {
        Fetch(session);
        ADD_FAILURE() << "nothing listens on the proxy's port, yet the request worked";
    } catch (const InternetError& error) {
        EXPECT_NE(std::string(error.what()).find("127.0.0.1 port 80"), std::string::npos)
            << error.what();
    }
}

TEST_F(InternetSessionProxyTest, TheProxyLoginAnswersTheProxysChallenge) {
    test::TinyProxy proxy("pxuser", "pxpass");
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PROXY, proxy.Address());
    std::uint32_t status = 0;
    Fetch(session, &status);
    EXPECT_EQ(status, 407u);

    session.SetOption(INTERNET_OPTION_PROXY_USERNAME, "pxuser");
    session.SetOption(INTERNET_OPTION_PROXY_PASSWORD, "pxpass");
    EXPECT_EQ(Fetch(session, &status), "hello");
    EXPECT_EQ(status, 200u);
}

TEST_F(InternetSessionProxyTest, OptionsMayChangeWhileRequestsRun) {
    InternetSession session;
    std::atomic<bool> stop{false};
    // The proxy dialog applies its settings on the window's thread while a run works.
    std::thread dialog([&] {
        for (int i = 0; !stop; ++i) {
            const std::string text(static_cast<std::size_t>(i % 300), 'p');
            session.SetProxy(i % 2 == 0 ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG,
                             text);
            session.SetOption(INTERNET_OPTION_PROXY_USERNAME, text);
            session.SetOption(INTERNET_OPTION_USERNAME, text);
        }
    });
    int answered = 0;
    for (int i = 0; i < 100; ++i) {
        answered += Fetch(session) == "hello" ? 1 : 0;
    }
    stop = true;
    dialog.join();
    EXPECT_EQ(answered, 100);
}

}  // namespace
}  // namespace zephyrate
