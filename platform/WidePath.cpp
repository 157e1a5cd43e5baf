#include "platform/WidePath.h"

#include "platform/WideText.h"

namespace zephyrate {

const char16_t* WidePath::Wide() {
    wide_ = Utf8ToUtf16(path_);
    return wide_.c_str();  // std::u16string keeps the terminating zero after its text
}

std::string WidePath::FromDevice(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

}  // namespace zephyrate
