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

    // libcurl's code; the layer's own findings carry the code of libcurl's nearest kind.
    int CurlCode() const { return curlCode_; }

    // What kind of failure it was, for callers that explain it in their own words.
    enum class Cause {
        Refused,      // nothing listens at the address
        UnknownHost,  // the host or proxy name does not resolve
        Timeout,      // no answer, or no data, in time
        Incomplete,   // the answer broke off, or contradicts its announced length
        Other,
    };
    Cause GetCause() const;

  private:
    int curlCode_ = 0;
};

}  // namespace zephyrate
