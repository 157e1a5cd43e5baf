// One HTTP response of an InternetSession: status and headers of the final response
// (after redirects), the body read on demand. Used by one thread at a time; it keeps what
// it needs of its session alive, so it may outlive the InternetSession object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ReadableFile.h"
#include "platform/WinTypes.h"

namespace zephyrate {

class CurlTransfer;

class HttpFile final : public ReadableFile {
  public:
    // Made by InternetSession::OpenURL.
    explicit HttpFile(std::unique_ptr<CurlTransfer> transfer);
    ~HttpFile() override;  // closes
    HttpFile(const HttpFile&) = delete;
    HttpFile& operator=(const HttpFile&) = delete;

    bool QueryInfoStatusCode(std::uint32_t& status) const;
    // False when the header is absent or not a valid HTTP date.
    bool QueryInfoLastModified(SYSTEMTIME& time) const;
    // False when absent (e.g. a chunked body); a length above 0xFFFFFFFF gives its low
    // 32 bits.
    bool QueryInfoContentLength(std::uint32_t& length) const;

    // INTERNET_OPTION_USERNAME / _PASSWORD: the login that the next SendRequest offers
    // when the server asks for one; an empty login counts. False for other options.
    bool SetOption(std::uint32_t option, std::string_view text);
    // Sends the same request again; the status and headers are then those of the new
    // response. Throws InternetError when no response arrives.
    void SendRequest();

    // Before the first Read nothing happens; after it the request is sent again so that
    // the body starts over.
    void SeekToBegin() override;
    // Fills the buffer unless the body ends first; 0 at the end. Throws InternetError for
    // a transport error, a body cut short or a stall.
    std::size_t Read(void* buffer, std::size_t count) override;
    // Ends the exchange; later reads give 0. A short unread rest is read away so that
    // the connection can be reused, a long one is cut.
    void Close();

    const std::string& Url() const;

  private:
    std::unique_ptr<CurlTransfer> transfer_;
};

}  // namespace zephyrate
