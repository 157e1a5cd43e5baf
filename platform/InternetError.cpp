#include "platform/InternetError.h"

#include <curl/curl.h>

#include "platform/AsciiText.h"

namespace zephyrate {

InternetError::InternetError(const std::string& message, int curlCode)
    : std::runtime_error(message), curlCode_(curlCode) {}

InternetError InternetError::FromCurl(int curlCode, const char* errorBuffer) {
    // libcurl ends some buffer texts with a newline; the user sees one line.
    std::string text(TrimAsciiEnd(errorBuffer != nullptr ? errorBuffer : "", "\r\n"));
    if (text.empty()) {
        text = curl_easy_strerror(static_cast<CURLcode>(curlCode));
    }
    return InternetError(text, curlCode);
}

InternetError::Cause InternetError::GetCause() const {
    switch (static_cast<CURLcode>(curlCode_)) {
        case CURLE_COULDNT_CONNECT:
            return Cause::Refused;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Cause::UnknownHost;
        case CURLE_OPERATION_TIMEDOUT:
            return Cause::Timeout;
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_WEIRD_SERVER_REPLY:
            return Cause::Incomplete;
        default:
            return Cause::Other;
    }
}

}  // namespace zephyrate
