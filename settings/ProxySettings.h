// The stored proxy choice and how it reaches the internet session. UseProxy holds the
// access type itself: 1 direct, 0 the system's settings, 3 the manual proxy; the proxy
// dialog shows it as choice 0 (direct), 1 (system) or 2 (manual).
//
// Threads: ApplyProxy may run on any thread (the session guards its options).
#pragma once

#include <cstdint>
#include <string>

namespace zephyrate {

class InternetSession;
class SettingsStore;

inline constexpr int kProxyChoiceDirect = 0;
inline constexpr int kProxyChoiceSystem = 1;
inline constexpr int kProxyChoiceManual = 2;

// The dialog's choice for a stored UseProxy: 1 -> direct, 3 -> manual, anything else ->
// system settings.
int ProxyChoiceOf(std::int32_t useProxy);
// The UseProxy to store for a choice; a choice outside 0..2 keeps current.
std::int32_t UseProxyOf(int choice, std::int32_t current);

// What the proxy dialog shows and takes: the choice (-1 none) and the five texts and flag,
// as typed.
struct ProxyForm {
    int choice = -1;
    std::string server;
    std::string port;
    bool authorisation = false;
    std::string userName;
    std::string password;
};

// Which of the dialog's proxy controls are enabled: server and port with their labels and
// the authorisation box for a manual proxy, the user name and password with their labels
// only when the box is set as well. Disabled controls keep their contents.
struct ProxyControls {
    bool server = false;  // also the port, the labels and the authorisation box
    bool login = false;   // user name and password with their labels
};
ProxyControls ProxyControlsFor(int choice, bool authorisation);

// The form filled from the store.
ProxyForm ReadProxyForm(SettingsStore& settings);
// Stores the form in this order: UseProxy (left as it is for no choice), ProxyServer,
// ProxyPort, ProxyAuth, ProxyUsername, ProxyPassword; the texts of disabled controls too,
// so that a server entered earlier survives a switch to a direct connection.
void StoreProxyForm(SettingsStore& settings, const ProxyForm& form);

// Puts the stored access type with ProxyAddress, then the proxy user name and password
// (whatever ProxyAuth says) on the session.
void ApplyProxy(SettingsStore& settings, InternetSession& session);

}  // namespace zephyrate
