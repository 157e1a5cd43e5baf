#include "platform/CurlTransfer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <new>

#include "platform/AsciiText.h"
#include "platform/InternetError.h"
#include "platform/WinTypes.h"

namespace zephyrate {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kAnyAuth = static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST);
// libcurl's default is 16 KiB; larger socket reads cut the system time of a big download
// by about a third (measured on 127.0.0.1). The write callback still gets 16 KiB pieces.
constexpr long kReceiveBuffer = 512 * 1024;
constexpr std::chrono::milliseconds kDrainPatience{1000};

// A header line or value without blanks, tabs and its line end.
std::string_view Trim(std::string_view text) {
    return TrimAscii(text, " \t\r\n");
}

// Headers that libcurl answers itself (a followed redirect, an authentication challenge
// it can meet) are followed by another status line, and their body never reaches us.
// Any other block is final once its blank line is in.
bool FinalAtBlankLine(std::uint32_t status, bool hasLocation) {
    if (status < 200) {
        return false;
    }
    if (status >= 300 && status < 400 && hasLocation) {
        return false;
    }
    return status != 401 && status != 407;
}

// Every option matters (the protocol limits above all), so a refused one ends the request.
template <typename T>
void SetOption(CURL* easy, CURLoption option, T value) {
    if (CURLcode code = curl_easy_setopt(easy, option, value); code != CURLE_OK) {
        throw InternetError::FromCurl(code, nullptr);
    }
}

}  // namespace

CurlTransfer::CurlTransfer(std::shared_ptr<InternetSessionCore> session, std::string url,
                           BodyFraming framing)
    : session_(std::move(session)),
      url_(std::move(url)),
      origin_(InternetSessionCore::OriginOf(url_)),
      framing_(framing),
      easy_(curl_easy_init(), &curl_easy_cleanup) {
    if (!easy_) {
        throw std::bad_alloc();
    }
    InternetSessionCore::TransferParts parts = session_->TakeTransferParts(kReadAhead);
    multi_ = std::move(parts.multi);
    ring_ = std::move(parts.readAhead);
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_SHARE, session_->Share());
    SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    SetOption(easy, CURLOPT_ERRORBUFFER, errorBuffer_.data());
    SetOption(easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::HeaderCallback);
    SetOption(easy, CURLOPT_HEADERDATA, this);
    SetOption(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::WriteCallback);
    SetOption(easy, CURLOPT_WRITEDATA, this);
    // A configuration file from a server must never make us read local files or talk
    // other protocols, also not through a redirect.
    SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    SetOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(easy, CURLOPT_MAXREDIRS, 10L);
    SetOption(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    SetOption(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    SetOption(easy, CURLOPT_USERAGENT, "Zephyrate/0.1");
    SetOption(easy, CURLOPT_HTTPAUTH, kAnyAuth);
    SetOption(easy, CURLOPT_PROXYAUTH, kAnyAuth);
    if (framing_ == BodyFraming::UntilClose) {
        // libcurl stops at the announced length and keeps what follows for the next
        // request; read to the close instead, and compare in CheckBodyEnd.
        requestHeaders_.reset(curl_slist_append(nullptr, "Connection: close"));
        if (!requestHeaders_) {
            throw std::bad_alloc();
        }
        SetOption(easy, CURLOPT_HTTPHEADER, requestHeaders_.get());
        SetOption(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    }
}

CurlTransfer::~CurlTransfer() {
    Finish();
    session_->ReturnTransferParts({std::move(multi_), std::move(ring_)});
}

void CurlTransfer::SetRequestUser(std::string_view user) {
    if (!requestLogin_) {
        requestLogin_.emplace();
    }
    requestLogin_->user = user;
}

void CurlTransfer::SetRequestPassword(std::string_view password) {
    if (!requestLogin_) {
        requestLogin_.emplace();
    }
    requestLogin_->password = password;
}

void CurlTransfer::ApplySettings(const RequestSettings& settings) {
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_URL, url_.c_str());
    SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count()));
    // With Basic and Digest both allowed libcurl sends the login only in answer to the
    // server's challenge, which it then meets within the same transfer.
    if (settings.login) {
        SetOption(easy, CURLOPT_USERNAME, settings.login->user.c_str());
        SetOption(easy, CURLOPT_PASSWORD, settings.login->password.c_str());
    } else {
        SetOption(easy, CURLOPT_USERNAME, nullptr);
        SetOption(easy, CURLOPT_PASSWORD, nullptr);
    }
    switch (settings.accessType) {
        case INTERNET_OPEN_TYPE_DIRECT:
            // An empty proxy also overrides http_proxy and friends.
            SetOption(easy, CURLOPT_PROXY, "");
            SetOption(easy, CURLOPT_NOPROXY, nullptr);
            SetOption(easy, CURLOPT_PROXYPORT, 0L);
            break;
        case INTERNET_OPEN_TYPE_PROXY:
            SetOption(easy, CURLOPT_PROXY, settings.proxyText.c_str());
            // The dialog's port field is an HTTP port; a server without one means 80.
            SetOption(easy, CURLOPT_PROXYPORT, 80L);
            // The user's proxy takes every request, whatever no_proxy says.
            SetOption(easy, CURLOPT_NOPROXY, "");
            break;
        default:
            // The system's settings: libcurl reads http_proxy, https_proxy and no_proxy.
            SetOption(easy, CURLOPT_PROXY, nullptr);
            SetOption(easy, CURLOPT_NOPROXY, nullptr);
            SetOption(easy, CURLOPT_PROXYPORT, 0L);
            break;
    }
    if (!settings.proxyLogin.user.empty() || !settings.proxyLogin.password.empty()) {
        SetOption(easy, CURLOPT_PROXYUSERNAME, settings.proxyLogin.user.c_str());
        SetOption(easy, CURLOPT_PROXYPASSWORD, settings.proxyLogin.password.c_str());
    } else {
        SetOption(easy, CURLOPT_PROXYUSERNAME, nullptr);
        SetOption(easy, CURLOPT_PROXYPASSWORD, nullptr);
    }
}

void CurlTransfer::ResetResponse() {
    block_ = Block{};
    final_ = Block{};
    finalKnown_ = false;
    contentLength_.reset();
    framingError_.reset();
    ring_.Clear();
    paused_ = false;
    pausedNeed_ = 0;
    draining_ = false;
    done_ = false;
    error_.reset();
    received_ = 0;
    consumed_ = 0;
    bodyWanted_ = false;
    errorBuffer_[0] = '\0';
}

void CurlTransfer::Send() {
    Finish();
    ResetResponse();
    closed_ = false;
    const RequestSettings settings = session_->SettingsFor(origin_, requestLogin_);
    stallLimit_ = settings.stallTimeout;
    ApplySettings(settings);
    if (CURLMcode code = curl_multi_add_handle(multi_.get(), easy_.get()); code != CURLM_OK) {
        throw InternetError(curl_multi_strerror(code));
    }
    attached_ = true;
    lastByte_ = Clock::now();
    Pump([this] { return finalKnown_; }, stallLimit_, Wait::CheckFirst);
    if (!finalKnown_) {
        InternetError error =
            error_ ? *error_ : InternetError("The server sent no response", CURLE_GOT_NOTHING);
        Finish();
        throw error;
    }
    if (requestLogin_ && final_.status < 400) {
        session_->RememberLogin(origin_, *requestLogin_);
    }
}

std::optional<std::string_view> CurlTransfer::FindHeader(std::string_view name) const {
    for (const Header& header : final_.headers) {
        if (EqualIgnoringAsciiCase(header.name, name)) {
            return std::string_view(header.value);
        }
    }
    return std::nullopt;
}

std::size_t CurlTransfer::Read(void* buffer, std::size_t count) {
    if (closed_ || !finalKnown_) {
        return 0;
    }
    bodyWanted_ = true;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t copied = 0;
    while (copied < count) {
        copied += ring_.Pop(out + copied, count - copied);
        if (copied == count) {
            break;
        }
        if (done_) {
            if (error_) {
                // A short read would look like the end of the body; the caller must
                // learn that the body was cut.
                throw *error_;
            }
            break;
        }
        Pump([this] { return !ring_.Empty(); }, stallLimit_, Wait::Sleep);
    }
    consumed_ += copied;
    return copied;
}

void CurlTransfer::Finish() noexcept {
    if (!attached_) {
        closed_ = true;
        return;
    }
    if (!done_ && finalKnown_ && framing_ == BodyFraming::KeepAlive) {
        // Reading away a short rest is cheaper than a new connection (and TLS handshake)
        // for the next request; a long one is cut. Unknown lengths get the same budget.
        const bool shortRest = !contentLength_ || (*contentLength_ >= received_ &&
                                                   *contentLength_ - received_ <= kDrainLimit);
        if (shortRest) {
            try {
                draining_ = true;
                ring_.Clear();
                const std::uint64_t start = received_;
                Pump([&] { return received_ - start > kDrainLimit; },
                     std::min(stallLimit_, kDrainPatience), Wait::Sleep);
            } catch (...) {
                // Nothing to report when abandoning a body; the connection just closes.
            }
        }
    }
    Detach();
    ring_.Clear();
    closed_ = true;
}

void CurlTransfer::Detach() noexcept {
    if (attached_) {
        // Removing an unfinished transfer closes its connection; a finished one has
        // already gone back to the session's pool.
        // Its only failure is a handle that is not attached, which attached_ rules out.
        (void)curl_multi_remove_handle(multi_.get(), easy_.get());
        attached_ = false;
    }
}

template <class Ready>
void CurlTransfer::Pump(Ready ready, std::chrono::milliseconds stallLimit, Wait wait) {
    const Clock::time_point waitStart = Clock::now();
    while (!ready() && !done_) {
        if (paused_) {
            if (!draining_ && (!bodyWanted_ || !ring_.Fits(pausedNeed_))) {
                break;  // the reader has not asked or made room yet; cannot happen in Read
            }
            paused_ = false;
            // Delivers the held chunk right here, through OnBody, which may pause again.
            if (CURLcode code = curl_easy_pause(easy_.get(), CURLPAUSE_CONT); code != CURLE_OK) {
                error_ = InternetError::FromCurl(code, errorBuffer_.data());
                done_ = true;
            }
            continue;
        }
        int running = 0;
        if (CURLMcode code = curl_multi_perform(multi_.get(), &running); code != CURLM_OK) {
            error_ = InternetError(curl_multi_strerror(code));
            done_ = true;
            Detach();
            break;
        }
        CollectDone();
        if (done_ || ready()) {
            break;
        }
        // A stall counts only the time spent waiting here: a reader that took its time
        // between reads is not the server's fault.
        const Clock::time_point now = Clock::now();
        const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
            now - std::max(lastByte_, waitStart));
        if (quiet >= stallLimit) {
            error_ = InternetError("Operation timed out: no data received for " +
                                       std::to_string(stallLimit.count()) + " milliseconds",
                                   CURLE_OPERATION_TIMEDOUT);
            done_ = true;
            Detach();
            break;
        }
        const auto sleep =
            std::min<std::chrono::milliseconds::rep>((stallLimit - quiet).count(), 1000);
        AcknowledgeAtOnce();
        if (wait == Wait::Sleep || !ReadyWithoutSleeping()) {
            curl_multi_poll(multi_.get(), nullptr, 0,
                            static_cast<int>(std::max<long long>(sleep, 1)), nullptr);
        }
    }
}

// Some servers hold back the last, partial segment of a response until the one before it
// is acknowledged (Nagle's rule; nginx with tcp_nopush, as Debian configures it). Our
// delayed acknowledgement then holds such a response up for 40 ms: against nginx on
// 127.0.0.1, up to a dozen of 2000 responses in one pass. The setting does not stick (the
// kernel returns to delaying by itself), so it is renewed before every wait.
void CurlTransfer::AcknowledgeAtOnce() noexcept {
#ifdef TCP_QUICKACK
    fd_set read;
    fd_set write;
    fd_set error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int highest = -1;
    // libcurl leaves out sockets that an fd_set cannot hold; those just keep the delay.
    if (curl_multi_fdset(multi_.get(), &read, &write, &error, &highest) != CURLM_OK) {
        return;
    }
    const int on = 1;
    for (int fd = 0; fd <= highest; ++fd) {
        if (FD_ISSET(fd, &read)) {
            // A failure (not a TCP socket) only leaves the kernel's default.
            (void)setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        }
    }
#endif
}

bool CurlTransfer::ReadyWithoutSleeping() noexcept {
    const Clock::time_point until = Clock::now() + kAnswerCheck;
    do {
        int ready = 0;
        if (curl_multi_wait(multi_.get(), nullptr, 0, 0, &ready) != CURLM_OK) {
            return false;
        }
        if (ready > 0) {
            return true;
        }
    } while (Clock::now() < until);
    return false;
}

void CurlTransfer::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_.get()) {
            continue;
        }
        done_ = true;
        if (framingError_) {
            error_ = InternetError(
                *framingError_, CURLE_WEIRD_SERVER_REPLY);  // libcurl only saw the transfer aborted
        } else if (message->data.result != CURLE_OK) {
            error_ = InternetError::FromCurl(message->data.result, errorBuffer_.data());
        } else if (finalKnown_) {
            CheckBodyEnd();
        } else if (block_.status != 0) {
            MakeFinal();  // a body-less answer ended by the close
            if (framingError_) {
                error_ = InternetError(*framingError_, CURLE_WEIRD_SERVER_REPLY);
            } else {
                CheckBodyEnd();
            }
        } else {
            error_ = InternetError("The server sent no response", CURLE_GOT_NOTHING);
        }
    }
}

std::size_t CurlTransfer::HeaderCallback(char* data, std::size_t size, std::size_t n, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    transfer->lastByte_ = Clock::now();
    try {
        transfer->OnHeaderLine(std::string_view(data, size * n));
    } catch (...) {
        return 0;  // out of memory: libcurl aborts the transfer with a write error
    }
    // Aborting is what keeps the connection, with whatever the answer left on it, from
    // serving another request.
    return transfer->framingError_ ? 0 : size * n;
}

std::size_t CurlTransfer::WriteCallback(char* data, std::size_t size, std::size_t n, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    transfer->lastByte_ = Clock::now();
    try {
        return transfer->OnBody(data, size * n);
    } catch (...) {
        return 0;
    }
}

void CurlTransfer::OnHeaderLine(std::string_view line) {
    if (finalKnown_) {
        return;  // trailers of a chunked body
    }
    if (line.starts_with("HTTP/")) {
        block_ = Block{};
        std::size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            std::string_view code = Trim(line.substr(space + 1)).substr(0, 3);
            std::uint32_t status = 0;
            auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
            if (ec == std::errc() && end == code.data() + code.size()) {
                block_.status = status;
            }
        }
        return;
    }
    std::string_view content = Trim(line);
    if (content.empty()) {
        if (block_.status != 0 &&
            FinalAtBlankLine(block_.status, std::any_of(block_.headers.begin(),
                                                        block_.headers.end(), [](const Header& h) {
                                                            return EqualIgnoringAsciiCase(
                                                                h.name, "Location");
                                                        }))) {
            MakeFinal();
        }
        return;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !block_.headers.empty()) {
        block_.headers.back().value += ' ';
        block_.headers.back().value += content;  // a folded continuation line
        return;
    }
    std::size_t colon = content.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    block_.headers.push_back(Header{std::string(Trim(content.substr(0, colon))),
                                    std::string(Trim(content.substr(colon + 1)))});
}

void CurlTransfer::MakeFinal() {
    if (!CheckFraming()) {
        return;  // never final: Send reports framingError_
    }
    final_ = std::move(block_);
    block_ = Block{};
    finalKnown_ = true;
}

bool CurlTransfer::CheckFraming() {
    contentLength_.reset();
    bool chunked = false;
    for (const Header& header : block_.headers) {
        if (EqualIgnoringAsciiCase(header.name, "Transfer-Encoding")) {
            chunked = true;
            continue;
        }
        if (!EqualIgnoringAsciiCase(header.name, "Content-Length")) {
            continue;
        }
        // A list of equal values ("5, 5") is one length; anything else is two.
        std::string_view values = header.value;
        while (!values.empty()) {
            const std::size_t comma = std::min(values.find(','), values.size());
            const std::string_view text = Trim(values.substr(0, comma));
            values.remove_prefix(std::min(comma + 1, values.size()));
            std::uint64_t value = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
                framingError_ = "The server's answer gives an invalid length";
                return false;
            }
            if (contentLength_ && *contentLength_ != value) {
                framingError_ = "The server's answer gives two different lengths";
                return false;
            }
            contentLength_ = value;
        }
    }
    if (chunked && contentLength_) {
        framingError_ = "The server's answer gives both a length and chunked encoding";
        return false;
    }
    return true;
}

void CurlTransfer::CheckBodyEnd() {
    // These answers have no body, whatever length they announce.
    if (!contentLength_ || final_.status == 204 || final_.status == 304) {
        return;
    }
    if (framing_ == BodyFraming::UntilClose) {
        if (received_ != *contentLength_) {
            error_ = InternetError("The server sent " + std::to_string(received_) + " of the " +
                                       std::to_string(*contentLength_) + " bytes it announced",
                                   CURLE_PARTIAL_FILE);
        }
        return;
    }
    // The body is what was announced. Bytes already waiting behind it would be read as the
    // answer to the next request on this connection: libcurl drops the connection when they
    // came with the last piece of the body, and when they came apart it is ended here, so
    // that the pool discards it. (Whether they came at all is a matter of timing, so they
    // do not fail this request; an index, which must be exact, is read with UntilClose.)
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
        socket == CURL_SOCKET_BAD) {
        return;
    }
    char byte = 0;
    if (::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
        (void)::shutdown(socket, SHUT_RDWR);
    }
}

std::size_t CurlTransfer::OnBody(const char* data, std::size_t count) {
    if (!finalKnown_) {
        MakeFinal();  // the first body byte settles which headers were the final ones
        if (framingError_) {
            return 0;
        }
    }
    if (draining_) {
        received_ += count;
        return count;
    }
    // Before the first Read the body stays with libcurl and the socket (see kReadAhead).
    if (!bodyWanted_ || !ring_.Fits(count)) {
        paused_ = true;
        pausedNeed_ = count;
        return CURL_WRITEFUNC_PAUSE;
    }
    ring_.Push(data, count);
    received_ += count;
    return count;
}

}  // namespace zephyrate
