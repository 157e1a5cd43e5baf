// A device path in its two forms: the 8-bit text (UTF-8) that the engine works with and
// the UTF-16 form, with a terminating zero, that the device calls take. The UTF-16 form
// is built on request. Names that are not valid UTF-8 survive the round trip.
#pragma once

#include <string>
#include <string_view>

namespace zephyrate {

class WidePath {
  public:
    explicit WidePath(std::string_view path) : path_(path) {}
    virtual ~WidePath() = default;

    const std::string& Text() const { return path_; }
    // Builds the UTF-16 form anew; valid until the next call or the object's end.
    const char16_t* Wide();

    // A text that came back from the device, in the engine's 8-bit form.
    static std::string FromDevice(std::u16string_view text);

  private:
    std::string path_;
    std::u16string wide_;
};

}  // namespace zephyrate
