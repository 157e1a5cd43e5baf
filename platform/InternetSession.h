// The program's internet session (one per console object): session options and the
// libcurl connection pool that all requests share. Options may be set from any thread,
// also while another thread's requests run; OpenURL is safe from any thread too. The
// responses it returns keep the shared pool alive, so they may outlive this object.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/HttpFile.h"
#include "platform/WinTypes.h"

namespace zephyrate {

class InternetSessionCore;

class InternetSession {
  public:
    // Starts with the system's proxy settings (INTERNET_OPEN_TYPE_PRECONFIG), no login,
    // a connect time-out of 30 s and a stall limit of 60 s.
    InternetSession();
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // INTERNET_OPTION_USERNAME / _PASSWORD: the login every later request offers when a
    // server asks (an empty user and password mean none). INTERNET_OPTION_PROXY_USERNAME
    // / _PROXY_PASSWORD: the proxy's login. False for other options.
    bool SetOption(std::uint32_t option, std::string_view text);
    // INTERNET_OPEN_TYPE_PRECONFIG: http_proxy / https_proxy / no_proxy of the
    // environment; _DIRECT: no proxy at all; _PROXY: proxyText as "host" or "host:port"
    // (port 80 when absent). Other values count as PRECONFIG.
    void SetProxy(std::uint32_t accessType, std::string_view proxyText);
    // Connect time-out, and the longest wait for the next byte of headers or body.
    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);

    // Opens an http or https address, following redirects, and returns once the final
    // response's headers are in; the body is read on demand. Characters that may not
    // stand raw in an address are percent-encoded first (EscapeUnsafeUrlCharacters).
    // Throws InternetError for any other scheme, for transport failures and for an answer
    // whose framing contradicts itself (two different lengths, a length with chunks).
    // flags (INTERNET_FLAG_*) change nothing: there is no cache, and every body is passed
    // on as bytes.
    std::unique_ptr<HttpFile> OpenURL(const std::string& url, std::uint32_t flags = 0,
                                      BodyFraming framing = BodyFraming::KeepAlive);

  private:
    std::shared_ptr<InternetSessionCore> core_;
};

}  // namespace zephyrate
