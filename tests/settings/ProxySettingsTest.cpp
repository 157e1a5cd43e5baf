// The stored proxy choice: its mapping to the dialog's choice, and applying it to a real
// session that fetches through a real tinyproxy.
#include "settings/ProxySettings.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "platform/InternetSession.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "tests/support/TinyProxy.h"

namespace zephyrate::test {
namespace {

TEST(ProxyChoiceTest, MapsStoredValuesAndChoicesBothWays) {
    for (const auto& [useProxy, choice] :
         {std::pair{1, kProxyChoiceDirect}, {0, kProxyChoiceSystem}, {3, kProxyChoiceManual}}) {
        EXPECT_EQ(ProxyChoiceOf(useProxy), choice);
        EXPECT_EQ(UseProxyOf(choice, 2), useProxy);
    }
    EXPECT_EQ(ProxyChoiceOf(2), kProxyChoiceSystem);  // values no dialog writes
    EXPECT_EQ(UseProxyOf(-1, 2), 2);                  // no button selected: the stored one
}

// The proxy answers 407 without its login, so the status tells whether a request went
// through it, and with the login. The route seen from zephyrate-sync is ZephyrateSyncTest's.
TEST(ApplyProxyTest, TheStoredProxyAndItsLoginReachTheSession) {
    TestSite site;  // outlives the session's idle connections
    site.Start();
    TinyProxy proxy("pxuser", "pxpass");
    TempFolder temp;
    SettingsStore settings((temp / "settings.reg").string());
    settings.SetProxyServer(proxy.Address());  // with its port, and ProxyPort empty
    InternetSession session;
    // The login goes on whatever ProxyAuth says (off), an emptied one goes off, and a
    // direct connection (1) leaves the manual proxy (3) unused.
    for (const auto& [useProxy, user, password, status] : {std::tuple{3, "", "", 407u},
                                                           {3, "pxuser", "pxpass", 200u},
                                                           {3, "", "", 407u},
                                                           {1, "", "", 200u}}) {
        settings.SetUseProxy(useProxy);
        settings.SetProxyUsername(user);
        settings.SetProxyPassword(password);
        ApplyProxy(settings, session);
        std::uint32_t answer = 0;
        session.OpenURL(site.Url("/status/200"))->QueryInfoStatusCode(answer);
        EXPECT_EQ(answer, status) << useProxy << " " << user;
    }
}

}  // namespace
}  // namespace zephyrate::test
