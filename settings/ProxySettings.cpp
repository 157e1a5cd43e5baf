#include "settings/ProxySettings.h"

#include <string>

#include "platform/InternetSession.h"
#include "platform/WinTypes.h"
#include "settings/SettingsStore.h"

namespace zephyrate {

int ProxyChoiceOf(std::int32_t useProxy) {
    switch (useProxy) {
        case static_cast<std::int32_t>(INTERNET_OPEN_TYPE_DIRECT):
            return kProxyChoiceDirect;
        case static_cast<std::int32_t>(INTERNET_OPEN_TYPE_PROXY):
            return kProxyChoiceManual;
        default:  // 0, and values no dialog of ours wrote
            return kProxyChoiceSystem;
    }
}

std::int32_t UseProxyOf(int choice, std::int32_t current) {
    switch (choice) {
        case kProxyChoiceDirect:
            return static_cast<std::int32_t>(INTERNET_OPEN_TYPE_DIRECT);
        case kProxyChoiceSystem:
            return static_cast<std::int32_t>(INTERNET_OPEN_TYPE_PRECONFIG);
        case kProxyChoiceManual:
            return static_cast<std::int32_t>(INTERNET_OPEN_TYPE_PROXY);
        default:  // no radio button selected: the stored choice stands
            return current;
    }
}

ProxyControls ProxyControlsFor(int choice, bool authorisation) {
    const bool manual = choice >= kProxyChoiceManual;
    return {manual, manual && authorisation};
}

ProxyForm ReadProxyForm(SettingsStore& settings) {
    return {ProxyChoiceOf(settings.UseProxy()),
            settings.ProxyServer(),
            settings.ProxyPort(),
            settings.ProxyAuth(),
            settings.ProxyUsername(),
            settings.ProxyPassword()};
}

void StoreProxyForm(SettingsStore& settings, const ProxyForm& form) {
    settings.SetUseProxy(UseProxyOf(form.choice, settings.UseProxy()));
    settings.SetProxyServer(form.server);
    settings.SetProxyPort(form.port);
    settings.SetProxyAuth(form.authorisation);
    settings.SetProxyUsername(form.userName);
    settings.SetProxyPassword(form.password);
}

void ApplyProxy(SettingsStore& settings, InternetSession& session) {
    const std::string address = settings.ProxyAddress();
    session.SetProxy(static_cast<std::uint32_t>(settings.UseProxy()), address);
    // The login goes on whatever ProxyAuth says: that box only governs the dialog.
    session.SetOption(INTERNET_OPTION_PROXY_USERNAME, settings.ProxyUsername());
    session.SetOption(INTERNET_OPTION_PROXY_PASSWORD, settings.ProxyPassword());
}

}  // namespace zephyrate
