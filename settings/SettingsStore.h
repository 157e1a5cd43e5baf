// The options that outlive one run: the device root, automatic path selection, the two
// window options, the proxy, the web server's login and the device folder. They live in
// the per-user registry file under one key; every reader goes to the file (nothing is
// cached) and every writer replaces it at once. Reading never writes. The in-memory
// copies mirror the value most recently read or written through this object.
//
// A file that cannot be read gives the defaults. A change that the file does not take (a
// file or folder the user may only read, a file that is not a settings file, a text the
// format cannot hold) still holds in this store (one per process): later reads of
// that value return it, and NotKept() lists it with the reason, so that a front end can
// say so once.
//
// Threads: any member may be called from any thread; the copies are guarded by a mutex,
// and concurrent writers in several processes lose no update (the file's lock). One store
// per console, owned by the front end; it must outlive the console.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryFile.h"

namespace zephyrate {

class SettingsStore {
  public:
    // The key, without the trailing backslash that a registry ignores.
    static constexpr std::string_view kKey = "HKEY_CURRENT_USER\\Software\\Kestrelwynd\\Zephyrate";
    // Text values of this many bytes or more (with their terminating zero) read as the
    // default, as a 255-byte buffer would give.
    static constexpr std::size_t kTextBufferSize = 255;

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

    // The primitives: each reads the file or writes the value, and is done. A number or
    // flag reads its default unless the value is a REG_DWORD; a text reads its default
    // unless the value is a REG_SZ shorter than the buffer.
    std::int32_t ReadNumber(std::string_view name, std::int32_t defaultValue);
    bool ReadFlag(std::string_view name, bool defaultValue);
    std::string ReadText(std::string_view name, std::string_view defaultValue);
    void WriteNumber(std::string_view name, std::int32_t value);
    void WriteFlag(std::string_view name, bool value);  // stores 1 or 0
    void WriteText(std::string_view name, std::string_view value);

    // One reader and one writer per value; defaults in brackets.
    std::string PrePath();  // [""]; a '\' is put in front of a text that lacks one
    void SetPrePath(std::string_view value);
    bool Dontask();  // [true]
    void SetDontask(bool value);
    bool AutoClose();  // [true]
    void SetAutoClose(bool value);
    bool Minimize();  // [false]
    void SetMinimize(bool value);
    std::int32_t UseProxy();  // [0]
    void SetUseProxy(std::int32_t value);
    std::string ProxyServer();  // [""]
    void SetProxyServer(std::string_view value);
    std::string ProxyPort();  // [""], text as typed
    void SetProxyPort(std::string_view value);
    bool ProxyAuth();  // [false]
    void SetProxyAuth(bool value);
    std::string ProxyUsername();  // [""]
    void SetProxyUsername(std::string_view value);
    std::string ProxyPassword();  // [""]
    void SetProxyPassword(std::string_view value);
    std::string UserUsername();  // [""]
    void SetUserUsername(std::string_view value);
    std::string UserPassword();  // [""]
    void SetUserPassword(std::string_view value);
    std::string DeviceFolder();  // [""], the host folder that stands for the device
    void SetDeviceFolder(std::string_view value);

    // ProxyServer, then ":" and ProxyPort when the port is not empty.
    std::string ProxyAddress();

  private:
    // The value as this store last failed to store it, else as stored; nothing when
    // neither has this type.
    std::optional<RegistryValue> ReadValue(std::string_view name, std::uint32_t type);
    // Stores the value, or keeps it in unsaved_ when the file refuses it.
    void WriteValue(std::string_view name, const RegistryValue& value);
    // Sets one in-memory copy and returns the value.
    template <typename T>
    T Mirror(T& copy, T value);

    struct Unsaved {
        std::string name;
        RegistryValue value;
        std::string reason;
    };

    RegistryFile file_;
    std::mutex writing_;        // one write at a time, so unsaved_ follows their order
    mutable std::mutex mutex_;  // guards unsaved_ and the copies below
    std::vector<Unsaved> unsaved_;
    std::string prePath_;
    bool autoClose_ = false;
    bool dontask_ = false;
    bool minimize_ = false;
    std::int32_t useProxy_ = 0;
    std::string proxyServer_;
    std::string proxyPort_;
    bool proxyAuth_ = false;
    std::string proxyUsername_;
    std::string proxyPassword_;
    std::string userUsername_;
    std::string userPassword_;
    std::string deviceFolder_;
    std::string proxyAddress_;
};

}  // namespace zephyrate
