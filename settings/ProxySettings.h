// The stored proxy choice and how it reaches the internet session. UseProxy holds the
// access type itself: 1 direct, 0 the system's settings, 3 the manual proxy; the proxy
// dialog shows it as choice 0 (direct), 1 (system) or 2 (manual).
//
// Threads: ApplyProxy may run on any thread (the session guards its options).
#pragma once

#include <cstdint>

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

// Puts the stored access type with ProxyAddress, then the proxy user name and password
// (whatever ProxyAuth says) on the session.
void ApplyProxy(SettingsStore& settings, InternetSession& session);

}  // namespace zephyrate
