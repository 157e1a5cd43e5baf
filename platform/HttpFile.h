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

// How the end of a response's body is found.
enum class BodyFraming {
    // By the announced length (or chunks); the connection then serves later requests.
    KeepAlive,
    // The request asks the server to close the connection after its answer, and the body
    // is read up to that close and held against the announced length: a body longer or
    // shorter than announced is an error. For a body that must be complete to be used at
    // all, whatever the server claims (the provider's index); costs the connection.
    UntilClose,
};

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
    // 32 bits. An answer that announces two different lengths never gets this far.
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
    // a transport error, a body cut short or a stall, and with BodyFraming::UntilClose for
    // a body longer or shorter than announced. Bytes beyond an announced length never
    // reach a later request: the connection is then not reused.
    std::size_t Read(void* buffer, std::size_t count) override;
    // Ends the exchange; later reads give 0. A short unread rest is read away so that
    // the connection can be reused, a long one is cut.
    void Close();

    const std::string& Url() const;

  private:
    std::unique_ptr<CurlTransfer> transfer_;
};

}  // namespace zephyrate
