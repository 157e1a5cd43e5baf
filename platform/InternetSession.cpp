#include "platform/InternetSession.h"

#include "platform/CurlTransfer.h"
#include "platform/InternetSessionCore.h"
#include "platform/UrlEscape.h"

namespace zephyrate {

InternetSession::InternetSession() : core_(std::make_shared<InternetSessionCore>()) {}

InternetSession::~InternetSession() = default;

bool InternetSession::SetOption(std::uint32_t option, std::string_view text) {
    switch (option) {
        case INTERNET_OPTION_USERNAME:
            core_->SetUser(text);
            return true;
        case INTERNET_OPTION_PASSWORD:
            core_->SetPassword(text);
            return true;
        case INTERNET_OPTION_PROXY_USERNAME:
            core_->SetProxyUser(text);
            return true;
        case INTERNET_OPTION_PROXY_PASSWORD:
            core_->SetProxyPassword(text);
            return true;
        default:
            return false;
    }
}

void InternetSession::SetProxy(std::uint32_t accessType, std::string_view proxyText) {
    core_->SetProxy(accessType, proxyText);
}

void InternetSession::SetTimeouts(std::chrono::milliseconds connect,
                                  std::chrono::milliseconds stall) {
    core_->SetTimeouts(connect, stall);
}

std::unique_ptr<HttpFile> InternetSession::OpenURL(const std::string& url, std::uint32_t,
                                                   BodyFraming framing) {
    auto transfer = std::make_unique<CurlTransfer>(core_, EscapeUnsafeUrlCharacters(url), framing);
    transfer->Send();
    return std::make_unique<HttpFile>(std::move(transfer));
}

}  // namespace zephyrate
