// The shared state of one internet session: the libcurl share handle (connections, DNS,
// TLS sessions) and the options, guarded by a mutex so that the proxy dialog may change
// them from another thread while a run uses the session. Held by shared_ptr by the session
// and by every response, so it lives until the last of them is gone. Private to platform/.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

#include "platform/ByteRing.h"
#include "platform/NetworkLayer.h"

namespace zephyrate {

struct HttpLogin {
    std::string user;
    std::string password;

    friend bool operator==(const HttpLogin&, const HttpLogin&) = default;
};

// What one send of a request uses, copied out under the lock.
struct RequestSettings {
    std::uint32_t accessType = 0;
    std::string proxyText;
    HttpLogin proxyLogin;
    std::optional<HttpLogin> login;  // offered when the server asks
    std::chrono::milliseconds connectTimeout{0};
    std::chrono::milliseconds stallTimeout{0};
};

class InternetSessionCore {
  public:
    using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
    // What a transfer borrows for its lifetime: the two parts that cost most to make anew
    // for every request. A multi handle brings a wake-up socket pair and a dozen system
    // calls; the read-ahead buffer grows to 1 MiB of fresh pages, a hundred page faults
    // per file of a few hundred KiB.
    struct TransferParts {
        MultiHandle multi;
        ByteRing readAhead;
    };

    InternetSessionCore();
    ~InternetSessionCore();
    InternetSessionCore(const InternetSessionCore&) = delete;
    InternetSessionCore& operator=(const InternetSessionCore&) = delete;

    CURLSH* Share() const { return share_; }

    void SetUser(std::string_view user);
    void SetPassword(std::string_view password);
    void SetProxy(std::uint32_t accessType, std::string_view proxyText);
    void SetProxyUser(std::string_view user);
    void SetProxyPassword(std::string_view password);
    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);

    // The settings for a request to origin: the request's own login, else the login
    // remembered for that origin, else the session login (when it is not empty).
    RequestSettings SettingsFor(const std::string& origin,
                                const std::optional<HttpLogin>& requestLogin) const;
    // Called when a server accepted a login (status below 400 after it was offered).
    void RememberLogin(const std::string& origin, const HttpLogin& login);

    // Parts from the pool, or new ones with a read-ahead limit of readAheadCap (throws
    // std::bad_alloc). Both calls are safe from any thread.
    TransferParts TakeTransferParts(std::size_t readAheadCap);
    // Gives parts back for the next transfer; no transfer may be attached to the handle.
    void ReturnTransferParts(TransferParts parts) noexcept;

    // "scheme://host:port" in lower case with the default port filled in; empty when the
    // address cannot be parsed.
    static std::string OriginOf(const std::string& url);

  private:
    static void Lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* self);
    static void Unlock(CURL* handle, curl_lock_data data, void* self);

    NetworkLayer network_;  // first made, last gone: libcurl's global state under the rest
    mutable std::mutex mutex_;
    HttpLogin login_;
    std::uint32_t accessType_ = 0;
    std::string proxyText_;
    HttpLogin proxyLogin_;
    std::chrono::milliseconds connectTimeout_{30000};
    std::chrono::milliseconds stallTimeout_{60000};
    std::map<std::string, HttpLogin> rememberedLogins_;

    // One lock per kind of shared data, as libcurl asks for them.
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks_;
    CURLSH* share_ = nullptr;

    std::mutex poolMutex_;
    std::vector<TransferParts> pool_;  // emptied before share_ goes
};

}  // namespace zephyrate
