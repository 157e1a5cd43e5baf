// The one exception of the HTTP layer: a transport failure, a refused address, a body cut
// short or a stall. what() is libcurl's own message (its error buffer when it filled one),
// which the engine shows to the user as the status text of an entry.
#pragma once

#include <stdexcept>
#include <string>

namespace zephyrate {

class InternetError : public std::runtime_error {
  public:
    explicit InternetError(const std::string& message, int curlCode = 0);

    // Builds the error of a failed libcurl call: the error buffer's text when it holds one,
    // else libcurl's generic text for the code.
    static InternetError FromCurl(int curlCode, const char* errorBuffer);

    // libcurl's code, or 0 for errors that the layer itself detects.
    int CurlCode() const { return curlCode_; }

  private:
    int curlCode_ = 0;
};

}  // namespace zephyrate
