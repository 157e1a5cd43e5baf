#include "settings/SettingsStore.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/AsciiText.h"

namespace zephyrate {

namespace {

// Value names compare without regard to ASCII case, as in the file.
auto Named(std::string_view name) {
    return [name](const auto& entry) { return EqualIgnoringAsciiCase(entry.name, name); };
}

// The bytes a value takes in the registry: a text with its terminating zero.
std::size_t StoredSize(const RegistryValue& value) {
    return value.type == REG_SZ ? value.text.size() + 1 : SettingsStore::kNumberSize;
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : file_(std::move(path)) {}

std::optional<RegistryValue> SettingsStore::ReadValue(std::string_view name, std::uint32_t type,
                                                      std::size_t length) {
    std::optional<RegistryValue> value;
    {
        std::lock_guard guard(mutex_);
        const auto unsaved = std::find_if(unsaved_.begin(), unsaved_.end(), Named(name));
        if (unsaved != unsaved_.end()) {
            value = unsaved->value;
        }
    }
    // The file is read outside the lock, so a slow disk never holds up another thread.
    if (!value) {
        value = file_.Read(kKey, name);
    }
    if (!value || value->type != type || StoredSize(*value) > length) {
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
    return Get(Number{}, name, defaultValue, kNumberSize);
}

bool SettingsStore::ReadFlag(std::string_view name, bool defaultValue) {
    return Get(Flag{}, name, defaultValue, kNumberSize);
}

std::string SettingsStore::ReadText(std::string_view name, std::string_view defaultValue) {
    return Get(Text{}, name, defaultValue, kTextBufferSize);
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

std::int32_t SettingsStore::Get(Number, std::string_view name, std::int32_t defaultValue,
                                std::size_t length) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_DWORD, length);
    return value ? static_cast<std::int32_t>(value->number) : defaultValue;
}

bool SettingsStore::Get(Flag, std::string_view name, bool defaultValue, std::size_t length) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_DWORD, length);
    return value ? value->number != 0 : defaultValue;
}

std::string SettingsStore::Get(Text, std::string_view name, std::string_view defaultValue,
                               std::size_t length) {
    const std::optional<RegistryValue> value = ReadValue(name, REG_SZ, length);
    // A zero inside the text ends it, as in the buffer.
    return value ? value->text.substr(0, value->text.find('\0')) : std::string(defaultValue);
}

std::string SettingsStore::Get(Root, std::string_view name, std::string_view defaultValue,
                               std::size_t length) {
    std::string value = Get(Text{}, name, defaultValue, length);
    // Stored roots may lack their leading '\'; the device paths need it.
    if (!value.empty() && value.front() != '\\') {
        value.insert(value.begin(), '\\');
    }
    return value;
}

void SettingsStore::Put(Flag, std::string_view name, bool value) {
    WriteFlag(name, value);
}

void SettingsStore::Put(Number, std::string_view name, std::int32_t value) {
    WriteNumber(name, value);
}

void SettingsStore::Put(Text, std::string_view name, std::string_view value) {
    WriteText(name, value);
}

std::string SettingsStore::ProxyAddress() {
    std::string address = ProxyServer();
    const std::string port = ProxyPort();
    if (!port.empty()) {
        address += ':';
        address += port;
    }
    return address;
}

}  // namespace zephyrate
