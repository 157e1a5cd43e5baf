#include "platform/DeviceNameFold.h"

#include <wctype.h>

#include "platform/WideText.h"

namespace zephyrate {

DeviceNameFold::DeviceNameFold()
    : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {}

DeviceNameFold::~DeviceNameFold() {
    if (locale_ != nullptr) {
        freelocale(locale_);
    }
}

std::u32string DeviceNameFold::Fold(std::string_view name) const {
    std::u32string folded;
    folded.reserve(name.size());
    // Most names are ASCII; they need neither the UTF-16 round nor the locale.
    bool ascii = true;
    for (char byte : name) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        folded.push_back(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
    if (ascii) {
        return folded;
    }
    folded.clear();
    const std::u16string wide = Utf8ToUtf16(name);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            // An escaped byte of a name that is not UTF-8: compared as it stands.
        } else if (locale_ != nullptr) {
            c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale_));
        } else if (c >= U'a' && c <= U'z') {
            c -= U'a' - U'A';
        }
        folded.push_back(c);
    }
    return folded;
}

}  // namespace zephyrate
