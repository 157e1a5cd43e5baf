// One HTTP request and its response, driven by a libcurl multi handle in the calling
// thread: Send returns at the final response's headers and the body is pulled on demand
// by Read, at most about 1 MiB ahead and not before the first Read. Used by one thread
// at a time; keeps the session's shared state alive. Private to platform/; HttpFile is its
// public face.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

#include "platform/ByteRing.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/InternetSessionCore.h"

namespace zephyrate {

class CurlTransfer {
  public:
    // Read-ahead limit: the transfer pauses when this much is buffered and unread. Before
    // the first Read nothing is taken: a caller that closes unread (a current file) would
    // only pay for copying a body it throws away.
    static constexpr std::size_t kReadAhead = 1024 * 1024;
    // A rest of the body up to this size is read away on close so the connection can be
    // reused; a longer one is cut by closing the connection. Measured on 127.0.0.1, where a
    // new connection is cheapest, reading 256 KiB away costs about as much as reconnecting
    // (0.2 ms each); on a real link a new connection costs one to three round trips more.
    static constexpr std::uint64_t kDrainLimit = 256 * 1024;

    // While a response is awaited, the socket is checked this long before the thread
    // sleeps: a server on this machine answers within it, and a sleep and wake-up cost
    // both sides more than the wait itself (a warm sync of 2000 small files from nginx on
    // 127.0.0.1 took 266 ms with sleeping, 193 ms with checking first). A distant server
    // costs at most this much processor time per request. Body reads always sleep, so a
    // slow download does not keep a processor busy.
    static constexpr std::chrono::microseconds kAnswerCheck{100};

    CurlTransfer(std::shared_ptr<InternetSessionCore> session, std::string url,
                 BodyFraming framing);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // The login of this request, used by the next Send (an empty one counts).
    void SetRequestUser(std::string_view user);
    void SetRequestPassword(std::string_view password);

    // Sends the request (again); returns once the final response's headers are in.
    // Throws InternetError when no response arrives.
    void Send();

    bool HasResponse() const { return finalKnown_; }
    std::uint32_t Status() const { return final_.status; }
    // The final response's announced body length; nothing when it announced none.
    std::optional<std::uint64_t> ContentLength() const { return contentLength_; }
    // The value of the final response's first header of that name (case ignored).
    std::optional<std::string_view> FindHeader(std::string_view name) const;

    // Fills the buffer unless the body ends first; 0 at the end or after Finish.
    // Throws InternetError for a transport error, a body cut short or a stall.
    std::size_t Read(void* buffer, std::size_t count);
    // Whether Read delivered any byte since the last Send.
    bool BodyTouched() const { return consumed_ > 0; }

    // Ends the exchange: reads a short rest away (so the connection is reused) or cuts
    // the transfer. Never throws.
    void Finish() noexcept;

    const std::string& Url() const { return url_; }

  private:
    struct Header {
        std::string name;
        std::string value;
    };
    struct Block {
        std::uint32_t status = 0;
        std::vector<Header> headers;
    };

    static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t n, void* self);
    static std::size_t WriteCallback(char* data, std::size_t size, std::size_t n, void* self);
    void OnHeaderLine(std::string_view line);
    std::size_t OnBody(const char* data, std::size_t count);
    void MakeFinal();
    // Whether the final block frames its body one way only; otherwise framingError_ says how
    // it contradicts itself.
    bool CheckFraming();
    // At the end of a body that arrived without a transport error. UntilClose: whether it
    // held exactly what was announced (otherwise error_ says why). KeepAlive: that nothing
    // the server sent beyond it stays on the connection for the next request.
    void CheckBodyEnd();
    void ApplySettings(const RequestSettings& settings);
    enum class Wait { Sleep, CheckFirst };
    // Runs libcurl until ready() holds, the transfer ends or nothing arrives for
    // stallLimit. CheckFirst polls for up to kAnswerCheck before each sleep.
    template <class Ready>
    void Pump(Ready ready, std::chrono::milliseconds stallLimit, Wait wait);
    void CollectDone();
    // Has the kernel acknowledge what arrived now rather than after its delayed-ACK time.
    void AcknowledgeAtOnce() noexcept;
    // Whether a socket became ready within kAnswerCheck, checked without sleeping.
    bool ReadyWithoutSleeping() noexcept;
    void Detach() noexcept;
    void ResetResponse();

    std::shared_ptr<InternetSessionCore> session_;
    std::string url_;
    std::string origin_;
    BodyFraming framing_;
    std::optional<HttpLogin> requestLogin_;

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy_;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> requestHeaders_{
        nullptr, &curl_slist_free_all};
    // multi_ and ring_ are lent by the session and given back on destruction.
    InternetSessionCore::MultiHandle multi_{nullptr, &curl_multi_cleanup};
    std::array<char, CURL_ERROR_SIZE> errorBuffer_{};
    bool attached_ = false;  // the easy handle is in the multi handle
    bool closed_ = false;
    std::chrono::milliseconds stallLimit_{60000};

    // Response state, reset by every Send.
    Block block_;  // the header block being received
    Block final_;
    bool finalKnown_ = false;
    std::optional<std::uint64_t> contentLength_;
    std::optional<std::string> framingError_;
    ByteRing ring_{0};         // the read-ahead, lent like multi_
    bool bodyWanted_ = false;  // Read was called since the last Send
    bool paused_ = false;
    std::size_t pausedNeed_ = 0;  // size of the chunk that was held back
    bool draining_ = false;
    bool done_ = false;
    std::optional<InternetError> error_;
    std::uint64_t received_ = 0;  // body bytes taken from libcurl
    std::uint64_t consumed_ = 0;  // body bytes handed to the reader
    std::chrono::steady_clock::time_point lastByte_;
};

}  // namespace zephyrate
