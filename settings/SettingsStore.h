// The options that outlive one run, kept in the per-user settings file (Path(), a registry
// export read and written through RegistryFile) as named values under the key kKey. The
// store holds no copy of what the file says: every reader reads the file afresh, every
// writer replaces the file at once, and reading never writes.
//
// A file that cannot be read, or a value of another type or too long for its buffer,
// gives the value's default. A change that the file does not take (a file or folder the
// user may only read, a file that is not a settings file, a text with a line break) is
// held instead in this store's overlay: from then on, until a later change of that value
// is stored, the value's readers return the held value, and NotKept() names the value with
// the reason, so that a front end can say so once. The overlay lives as long as the store;
// another store, in this process or the next, does not see it.
//
// Threads: every member may be called on any thread, also at once. The overlay is guarded
// by a mutex that is never held while the file is read or written; writes through one store
// follow each other, and writers in other stores or processes lose no update
// (RegistryFile's lock). One store per console, owned by the front end; it must outlive the
// console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryFile.h"

// The settings, one row each: the value's name (which is also its reader's name; its
// writer is Set and the name), its kind, its default, and its length rule (the bytes the
// stored value may take with a text's terminating zero; a longer value reads as the
// default). Flags and numbers are REG_DWORD values, texts and roots REG_SZ; a root is a
// text that reads with a leading '\' when it lacks one (the file keeps what it has).
#define ZEPHYRATE_SETTINGS(X)                                            \
    X(PrePath, Root, "", kTextBufferSize) /* root on the device */       \
    X(Dontask, Flag, true, kNumberSize)   /* automatic path selection */ \
    X(AutoClose, Flag, true, kNumberSize)                                \
    X(Minimize, Flag, false, kNumberSize)                                \
    X(UseProxy, Number, 0, kNumberSize) /* see ProxySettings.h */        \
    X(ProxyServer, Text, "", kTextBufferSize)                            \
    X(ProxyPort, Text, "", kTextBufferSize) /* as typed */               \
    X(ProxyAuth, Flag, false, kNumberSize)                               \
    X(ProxyUsername, Text, "", kTextBufferSize)                          \
    X(ProxyPassword, Text, "", kTextBufferSize)                          \
    X(UserUsername, Text, "", kTextBufferSize)                           \
    X(UserPassword, Text, "", kTextBufferSize)                           \
    X(DeviceFolder, Text, "", kTextBufferSize) /* the device's host folder */

namespace zephyrate {

class SettingsStore {
  public:
    // The key, without the trailing backslash that a registry ignores.
    static constexpr std::string_view kKey = "HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate";
    // The length rules: a 255-byte text buffer (254 bytes and the terminating zero) and a
    // 4-byte number.
    static constexpr std::size_t kTextBufferSize = 255;
    static constexpr std::size_t kNumberSize = 4;

    // The kinds of the table: the reader's and the writer's types.
    struct Flag {
        using Value = bool;
        using Argument = bool;
    };
    struct Number {
        using Value = std::int32_t;
        using Argument = std::int32_t;
    };
    struct Text {
        using Value = std::string;
        using Argument = std::string_view;
    };
    struct Root : Text {};

    // path: the settings file (RegistryFile::DefaultLocation). Reads nothing yet.
    explicit SettingsStore(std::string path);
    virtual ~SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::string& Path() const { return file_.Path(); }

    // A value whose latest change through this store was not stored, and why.
    struct NotKeptValue {
        std::string name;
        std::string reason;  // RegistryFile::Write's, such as "it is read-only"
    };
    // In the order of their first failed change; a value leaves the list once stored.
    std::vector<NotKeptValue> NotKept() const;

    // The primitives, for any value name: each reads (the overlay, else the file) or
    // writes one value and is done. A number or flag reads its default unless the value is
    // a REG_DWORD; a text reads its default unless the value is a REG_SZ that fits
    // kTextBufferSize, and ends at a zero byte.
    std::int32_t ReadNumber(std::string_view name, std::int32_t defaultValue);
    bool ReadFlag(std::string_view name, bool defaultValue);
    std::string ReadText(std::string_view name, std::string_view defaultValue);
    void WriteNumber(std::string_view name, std::int32_t value);
    void WriteFlag(std::string_view name, bool value);  // stores 1 or 0
    void WriteText(std::string_view name, std::string_view value);

    // One reader and one writer per row of the table: bool Dontask(), void
    // SetDontask(bool), std::string PrePath(), void SetPrePath(std::string_view), ...
#define ZEPHYRATE_SETTING_ACCESSORS(name, kind, defaultValue, length) \
    kind::Value name() {                                              \
        return Get(kind{}, #name, defaultValue, length);              \
    }                                                                 \
    void Set##name(kind::Argument value) {                            \
        Put(kind{}, #name, value);                                    \
    }
    ZEPHYRATE_SETTINGS(ZEPHYRATE_SETTING_ACCESSORS)
#undef ZEPHYRATE_SETTING_ACCESSORS

    // ProxyServer, then ":" and ProxyPort when the port is not empty.
    std::string ProxyAddress();

  private:
    // The primitives by kind, with the row's length rule.
    bool Get(Flag, std::string_view name, bool defaultValue, std::size_t length);
    std::int32_t Get(Number, std::string_view name, std::int32_t defaultValue, std::size_t length);
    std::string Get(Text, std::string_view name, std::string_view defaultValue, std::size_t length);
    std::string Get(Root, std::string_view name, std::string_view defaultValue, std::size_t length);
    void Put(Flag, std::string_view name, bool value);
    void Put(Number, std::string_view name, std::int32_t value);
    void Put(Text, std::string_view name, std::string_view value);

    // The value as held in the overlay, else as stored; nothing when that one is not of
    // this type or takes more than length bytes.
    std::optional<RegistryValue> ReadValue(std::string_view name, std::uint32_t type,
                                           std::size_t length);
    // Stores the value, or holds it in the overlay when the file refuses it.
    void WriteValue(std::string_view name, const RegistryValue& value);

    struct Unsaved {
        std::string name;
        RegistryValue value;
        std::string reason;
    };

    RegistryFile file_;
    std::mutex writing_;            // one write at a time, so unsaved_ follows their order
    mutable std::mutex mutex_;      // guards unsaved_
    std::vector<Unsaved> unsaved_;  // the overlay, in the order of first failure
};

}  // namespace zephyrate
