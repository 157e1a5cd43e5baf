// The stored proxy choice: its mapping to the dialog's choice, and applying it to a real
// session that fetches through a real tinyproxy, whose log shows what passed through it.
#include "settings/ProxySettings.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/InternetSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

TEST(ProxyChoiceTest, MapsStoredValuesAndChoicesBothWays) {
    struct Case {
        std::int32_t useProxy;
        int choice;
    };
    // Values no dialog writes (2, -5) show as the system settings.
    const Case toChoice[] = {{0, kProxyChoiceSystem},
                             {1, kProxyChoiceDirect},
                             {2, kProxyChoiceSystem},
                             {3, kProxyChoiceManual},
                             {-5, kProxyChoiceSystem}};
    for (const Case& c : toChoice) {
        EXPECT_EQ(ProxyChoiceOf(c.useProxy), c.choice) << "UseProxy " << c.useProxy;
    }
    // A choice outside the three buttons (-1: none selected) keeps what is stored.
    const Case toStored[] = {{1, kProxyChoiceDirect},
                             {0, kProxyChoiceSystem},
                             {3, kProxyChoiceManual},
                             {2, -1},
                             {2, 3},
                             {2, -5}};
    for (const Case& c : toStored) {
        EXPECT_EQ(UseProxyOf(c.choice, 2), c.useProxy) << "choice " << c.choice;
    }
}

class ApplyProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.Server().Get(
            "/hello", [](const auto&, auto& res) { res.set_content("hello", "text/plain"); });
        server_.Start();
    }

    // The status of GET /hello?query through the session as the settings left it.
    std::uint32_t Fetch(const std::string& query) {
        ApplyProxy(settings_, session_);
        const auto file = session_.OpenURL(server_.Url("/hello?" + query));
        std::uint32_t status = 0;
        file->QueryInfoStatusCode(status);
        return status;
    }
    bool Proxied(const TinyProxy& proxy, const std::string& query) const {
        return proxy.Log().find("GET " + server_.Url("/hello?" + query)) != std::string::npos;
    }

    TempFolder temp_;
    TestHttpServer server_;  // outlives the session's idle connections
    SettingsStore settings_{(temp_ / "settings.reg").string()};
    InternetSession session_;
};

TEST_F(ApplyProxyTest, TheManualProxyCarriesRequestsAndDirectBypassesIt) {
    TinyProxy proxy;
    const std::string address = proxy.Address();
    const std::size_t colon = address.rfind(':');
    settings_.SetUseProxy(3);
    settings_.SetProxyServer(address.substr(0, colon));
    settings_.SetProxyPort(address.substr(colon + 1));
    EXPECT_EQ(Fetch("server-and-port"), 200u);
    EXPECT_TRUE(Proxied(proxy, "server-and-port")) << proxy.Log();

    // The proxy text is passed for a direct connection too; it must go unused.
    settings_.SetUseProxy(1);
    EXPECT_EQ(Fetch("direct"), 200u);
    EXPECT_FALSE(Proxied(proxy, "direct")) << proxy.Log();

    // An empty port leaves the server text alone, here with its own port.
    settings_.SetUseProxy(3);
    settings_.SetProxyServer(address);
    settings_.SetProxyPort("");
    EXPECT_EQ(Fetch("server-alone"), 200u);
    EXPECT_TRUE(Proxied(proxy, "server-alone")) << proxy.Log();
}

TEST_F(ApplyProxyTest, TheProxyLoginIsAppliedWhateverTheAuthorisationBoxSays) {
    TinyProxy proxy("pxuser", "pxpass");
    settings_.SetUseProxy(3);
    settings_.SetProxyServer(proxy.Address());
    settings_.SetProxyAuth(false);
    EXPECT_EQ(Fetch("no-login"), 407u);

    settings_.SetProxyUsername("pxuser");
    settings_.SetProxyPassword("pxpass");
    EXPECT_EQ(Fetch("login"), 200u);

    // Emptied in the settings: the old login must not linger on the session.
    settings_.SetProxyUsername("");
    settings_.SetProxyPassword("");
    EXPECT_EQ(Fetch("login-removed"), 407u);
}

}  // namespace
}  // namespace zephyrate::test
