// The proxy options against a real tinyproxy: which requests go through it is read from
// its own log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate {
namespace {

class InternetSessionProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.Server().Get(
            "/hello", [](const auto&, auto& res) { res.set_content("hello", "text/plain"); });
        server_.Start();
        // The machine's own proxy settings must not mix in.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            SetEnvironment(name, std::nullopt);
        }
    }
    // Puts the environment back as it was before the test.
    void TearDown() override {
        for (auto it = savedEnvironment_.rbegin(); it != savedEnvironment_.rend(); ++it) {
            it->second ? setenv(it->first.c_str(), it->second->c_str(), 1)
                       : unsetenv(it->first.c_str());
        }
    }

    void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        savedEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

    // Fetches /hello?query; the body, and the status through status.
    std::string Fetch(InternetSession& session, const std::string& query = "",
                      std::uint32_t* status = nullptr) {
        auto file = session.OpenURL(server_.Url("/hello?" + query));
        std::uint32_t code = 0;
        file->QueryInfoStatusCode(code);
        if (status != nullptr) {
            *status = code;
        }
        char buffer[64];
        return std::string(buffer, file->Read(buffer, sizeof buffer));
    }

    bool ProxyLogged(const test::TinyProxy& proxy, const std::string& query) const {
        return proxy.Log().find("GET " + server_.Url("/hello?" + query)) != std::string::npos;
    }

    test::TestHttpServer server_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

TEST_F(InternetSessionProxyTest, ManualProxyCarriesDirectBypassesAndPreconfigUsesTheEnvironment) {
    test::TinyProxy proxy;
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_PROXY, proxy.Address());
    EXPECT_EQ(Fetch(session, "manual"), "hello");
    EXPECT_TRUE(ProxyLogged(proxy, "manual")) << proxy.Log();

    SetEnvironment("http_proxy", "http://" + proxy.Address());
    session.SetProxy(INTERNET_OPEN_TYPE_DIRECT, proxy.Address());
    EXPECT_EQ(Fetch(session, "direct"), "hello");
    EXPECT_FALSE(ProxyLogged(proxy, "direct")) << "a direct connection went through the proxy";

    session.SetProxy(INTERNET_OPEN_TYPE_PRECONFIG, "");
    EXPECT_EQ(Fetch(session, "preconfig"), "hello");
    EXPECT_TRUE(ProxyLogged(proxy, "preconfig")) << "the system setting (http_proxy) was unused";
}

TEST_F(InternetSessionProxyTest, AProxyWithoutPortIsReachedOnPort80) {
    if (test::LoopbackAccepts(80)) {
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
    Fetch(session, "", &status);
    EXPECT_EQ(status, 407u);

    session.SetOption(INTERNET_OPTION_PROXY_USERNAME, "pxuser");
    session.SetOption(INTERNET_OPTION_PROXY_PASSWORD, "pxpass");
    EXPECT_EQ(Fetch(session, "", &status), "hello");
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
