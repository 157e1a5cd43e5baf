#include "settings/SettingsStore.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/AsciiText.h"

namespace zephyrate {

namespace {

// Each value's stored name, exactly as stored files spell it.
constexpr std::string_view kPrePath = "PrePath";
constexpr std::string_view kDontask = "Dontask";
constexpr std::string_view kAutoClose = "AutoClose";
constexpr std::string_view kMinimize = "Minimize";
constexpr std::string_view kUseProxy = "UseProxy";
constexpr std::string_view kProxyServer = "ProxyServer";
constexpr std::string_view kProxyPort = "ProxyPort";
constexpr std::string_view kProxyAuth = "ProxyAuth";
constexpr std::string_view kProxyUsername = "ProxyUsername";
constexpr std::string_view kProxyPassword = "ProxyPassword";
constexpr std::string_view kUserUsername = "UserUsername";
constexpr std::string_view kUserPassword = "UserPassword";
constexpr std::string_view kDeviceFolder = "DeviceFolder";

// Value names compare without regard to ASCII case, as in the file.
auto Named(std::string_view name) {
    return [name](const auto& entry) { return EqualIgnoringAsciiCase(entry.name, name); };
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : file_(std::move(path)) {}

std::optional<RegistryValue> SettingsStore::ReadValue(std::string_view name, std::uint32_t type) {
    std::optional<RegistryValue> value;
    {
        std::lock_guard guard(mutex_);
        const auto unsaved = std::find_if(unsaved_.begin(), unsaved_.end(), Named(name));
        if (unsaved != unsaved_.end()) {
            value = unsaved->value;
        }
    }
    if (!value) {
        value = file_.Read(kKey, name);
    }
    if (!value || value->type != type) {
        return std::nullopt;
    }
    return value;
}

void SettingsStore::WriteValue(std::string_view name, const RegistryValue& value) {
    std::lock_guard writing(writing_);
    std::string reason;
    const bool stored = file_.Write(kKey, name, value, &reason);
    std::lock_guard guard(mutex_);
    const auto unsaved = std::find_if(unsaved_.begin(), unsaved_.end(), Named(name));
    if (stored) {
        if (unsaved != unsaved_.end()) {
            unsaved_.erase(unsaved);
        }
    } else if (unsaved != unsaved_.end()) {
        unsaved->value = value;
        unsaved->reason = std::move(reason);
    } else {
        unsaved_.push_back({std::string(name), value, std::move(reason)});
    }
}

std::vector<SettingsStore::NotKeptValue> SettingsStore::NotKept() const {
    std::lock_guard guard(mutex_);
    std::vector<NotKeptValue> notKept;
    for (const Unsaved& unsaved : unsaved_) {
        notKept.push_back({unsaved.name, unsaved.reason});
    }
    return notKept;
}

std::int32_t SettingsStore::ReadNumber(std::string_view name, std::int32_t defaultValue) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_DWORD);
    return value ? static_cast<std::int32_t>(value->number) : defaultValue;
}

bool SettingsStore::ReadFlag(std::string_view name, bool defaultValue) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_DWORD);
    return value ? value->number != 0 : defaultValue;
}

std::string SettingsStore::ReadText(std::string_view name, std::string_view defaultValue) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_SZ);
    // The text and its terminating zero must fit the buffer; a zero inside ends it.
    if (!value || value->text.size() + 1 > kTextBufferSize) {
        return std::string(defaultValue);
    }
    return value->text.substr(0, value->text.find('\0'));
}

void SettingsStore::WriteNumber(std::string_view name, std::int32_t value) {
    WriteValue(name, RegistryValue::Number(static_cast<std::uint32_t>(value)));
}

void SettingsStore::WriteFlag(std::string_view name, bool value) {
    WriteNumber(name, value ? 1 : 0);
}

void SettingsStore::WriteText(std::string_view name, std::string_view value) {
    WriteValue(name, RegistryValue::Text(std::string(value)));
}

// The copies are assigned under the lock; the file is reached outside it, so a slow disk
// never holds up another thread.
template <typename T>
T SettingsStore::Mirror(T& copy, T value) {
    std::lock_guard guard(mutex_);
    copy = value;
    return value;
}

bool SettingsStore::Dontask() {
    return Mirror(dontask_, ReadFlag(kDontask, true));
}
void SettingsStore::SetDontask(bool value) {
    Mirror(dontask_, value);
    WriteFlag(kDontask, value);
}

bool SettingsStore::AutoClose() {
    return Mirror(autoClose_, ReadFlag(kAutoClose, true));
}
void SettingsStore::SetAutoClose(bool value) {
    Mirror(autoClose_, value);
    WriteFlag(kAutoClose, value);
}

bool SettingsStore::Minimize() {
    return Mirror(minimize_, ReadFlag(kMinimize, false));
}
void SettingsStore::SetMinimize(bool value) {
    Mirror(minimize_, value);
    WriteFlag(kMinimize, value);
}

bool SettingsStore::ProxyAuth() {
    return Mirror(proxyAuth_, ReadFlag(kProxyAuth, false));
}
void SettingsStore::SetProxyAuth(bool value) {
    Mirror(proxyAuth_, value);
    WriteFlag(kProxyAuth, value);
}

std::string SettingsStore::ProxyServer() {
    return Mirror(proxyServer_, ReadText(kProxyServer, ""));
}
void SettingsStore::SetProxyServer(std::string_view value) {
    Mirror(proxyServer_, std::string(value));
    WriteText(kProxyServer, value);
}

std::string SettingsStore::ProxyPort() {
    return Mirror(proxyPort_, ReadText(kProxyPort, ""));
}
void SettingsStore::SetProxyPort(std::string_view value) {
    Mirror(proxyPort_, std::string(value));
    WriteText(kProxyPort, value);
}

std::string SettingsStore::ProxyUsername() {
    return Mirror(proxyUsername_, ReadText(kProxyUsername, ""));
}
void SettingsStore::SetProxyUsername(std::string_view value) {
    Mirror(proxyUsername_, std::string(value));
    WriteText(kProxyUsername, value);
}

std::string SettingsStore::ProxyPassword() {
    return Mirror(proxyPassword_, ReadText(kProxyPassword, ""));
}
void SettingsStore::SetProxyPassword(std::string_view value) {
    Mirror(proxyPassword_, std::string(value));
    WriteText(kProxyPassword, value);
}

std::string SettingsStore::UserUsername() {
    return Mirror(userUsername_, ReadText(kUserUsername, ""));
}
void SettingsStore::SetUserUsername(std::string_view value) {
    Mirror(userUsername_, std::string(value));
    WriteText(kUserUsername, value);
}

std::string SettingsStore::UserPassword() {
    return Mirror(userPassword_, ReadText(kUserPassword, ""));
}
void SettingsStore::SetUserPassword(std::string_view value) {
    Mirror(userPassword_, std::string(value));
    WriteText(kUserPassword, value);
}

std::string SettingsStore::DeviceFolder() {
    return Mirror(deviceFolder_, ReadText(kDeviceFolder, ""));
}
void SettingsStore::SetDeviceFolder(std::string_view value) {
    Mirror(deviceFolder_, std::string(value));
    WriteText(kDeviceFolder, value);
}

std::string SettingsStore::PrePath() {
    std::string value = ReadText(kPrePath, "");
    // Stored roots may lack their leading '\'; the device paths need it.
    if (!value.empty() && value.front() != '\\') {
        value.insert(value.begin(), '\\');
    }
    return Mirror(prePath_, std::move(value));
}

void SettingsStore::SetPrePath(std::string_view value) {
    Mirror(prePath_, std::string(value));
    WriteText(kPrePath, value);
}

std::int32_t SettingsStore::UseProxy() {
    return Mirror(useProxy_, ReadNumber(kUseProxy, 0));
}
void SettingsStore::SetUseProxy(std::int32_t value) {
    Mirror(useProxy_, value);
    WriteNumber(kUseProxy, value);
}

std::string SettingsStore::ProxyAddress() {
    std::string address = ProxyServer();
    std::string port = ProxyPort();
    if (!port.empty()) {
        address += ':';
        address += port;
    }
    return Mirror(proxyAddress_, std::move(address));
}

}  // namespace zephyrate
