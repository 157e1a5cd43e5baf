#include "platform/InternetError.h"

#include <curl/curl.h>

namespace zephyrate {

InternetError::InternetError(const std::string& message, int curlCode)
    : std::runtime_error(message), curlCode_(curlCode) {}

InternetError InternetError::FromCurl(int curlCode, const char* errorBuffer) {
    std::string text = errorBuffer != nullptr ? errorBuffer : "";
    // libcurl ends some buffer texts with a newline; the user sees one line.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = curl_easy_strerror(static_cast<CURLcode>(curlCode));
    }
    return InternetError(text, curlCode);
}

}  // namespace zephyrate
