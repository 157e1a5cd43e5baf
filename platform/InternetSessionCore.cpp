#include "platform/InternetSessionCore.h"

#include <memory>
#include <new>

#include "platform/AsciiText.h"

namespace zephyrate {

namespace {

// More transfers than this are rarely alive at once (a job has one, the index fetch one);
// each kept set may hold 1 MiB.
constexpr std::size_t kPooledParts = 2;

}  // namespace

InternetSessionCore::InternetSessionCore() {
    // A network layer that did not start is the program's to report before any request;
    // the session is made all the same.
    share_ = curl_share_init();
    if (share_ == nullptr) {
        throw std::bad_alloc();
    }
    (void)curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &InternetSessionCore::Lock);
    (void)curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &InternetSessionCore::Unlock);
    (void)curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    (void)curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    (void)curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    (void)curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

InternetSessionCore::~InternetSessionCore() {
    pool_.clear();
    // Every response holds this object, so no easy handle uses the share any more.
    curl_share_cleanup(share_);
}

void InternetSessionCore::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<InternetSessionCore*>(self)->shareLocks_[static_cast<std::size_t>(data)].lock();
}

void InternetSessionCore::Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<InternetSessionCore*>(self)->shareLocks_[static_cast<std::size_t>(data)].unlock();
}

void InternetSessionCore::SetUser(std::string_view user) {
    std::lock_guard lock(mutex_);
    login_.user = user;
}

void InternetSessionCore::SetPassword(std::string_view password) {
    std::lock_guard lock(mutex_);
    login_.password = password;
}

void InternetSessionCore::SetProxy(std::uint32_t accessType, std::string_view proxyText) {
    std::lock_guard lock(mutex_);
    accessType_ = accessType;
    proxyText_ = proxyText;
}

void InternetSessionCore::SetProxyUser(std::string_view user) {
    std::lock_guard lock(mutex_);
    proxyLogin_.user = user;
}

void InternetSessionCore::SetProxyPassword(std::string_view password) {
    std::lock_guard lock(mutex_);
    proxyLogin_.password = password;
}

void InternetSessionCore::SetTimeouts(std::chrono::milliseconds connect,
                                      std::chrono::milliseconds stall) {
    std::lock_guard lock(mutex_);
    connectTimeout_ = connect;
    stallTimeout_ = stall;
}

RequestSettings InternetSessionCore::SettingsFor(
    const std::string& origin, const std::optional<HttpLogin>& requestLogin) const {
    std::lock_guard lock(mutex_);
    RequestSettings settings;
    settings.accessType = accessType_;
    settings.proxyText = proxyText_;
    settings.proxyLogin = proxyLogin_;
    settings.connectTimeout = connectTimeout_;
    settings.stallTimeout = stallTimeout_;
    if (requestLogin) {
        settings.login = requestLogin;
    } else if (auto it = rememberedLogins_.find(origin);
               !origin.empty() && it != rememberedLogins_.end()) {
        settings.login = it->second;
    } else if (!login_.user.empty() || !login_.password.empty()) {
        settings.login = login_;
    }
    return settings;
}

void InternetSessionCore::RememberLogin(const std::string& origin, const HttpLogin& login) {
    if (origin.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    rememberedLogins_[origin] = login;
}

InternetSessionCore::TransferParts InternetSessionCore::TakeTransferParts(
    std::size_t readAheadCap) {
    {
        std::lock_guard lock(poolMutex_);
        if (!pool_.empty()) {
            TransferParts parts = std::move(pool_.back());
            pool_.pop_back();
            return parts;
        }
    }
    TransferParts parts{MultiHandle(curl_multi_init(), &curl_multi_cleanup),
                        ByteRing(readAheadCap)};
    if (!parts.multi) {
        throw std::bad_alloc();
    }
    return parts;
}

void InternetSessionCore::ReturnTransferParts(TransferParts parts) noexcept {
    if (!parts.multi) {
        return;
    }
    parts.readAhead.Clear();
    std::lock_guard lock(poolMutex_);
    if (pool_.size() < kPooledParts) {
        try {
            pool_.push_back(std::move(parts));
        } catch (...) {
            // Out of memory: the parts are simply freed.
        }
    }
}

std::string InternetSessionCore::OriginOf(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    auto part = [&](CURLUPart which, unsigned int flags) {
        char* text = nullptr;
        std::string value;
        if (curl_url_get(parsed.get(), which, &text, flags) == CURLUE_OK && text != nullptr) {
            value = text;
        }
        curl_free(text);
        return value;
    };
    return AsciiLowered(part(CURLUPART_SCHEME, 0) + "://" + part(CURLUPART_HOST, 0) + ":" +
                        part(CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

}  // namespace zephyrate
