// Conversions between the 8-bit text of the system (UTF-8) and the UTF-16 text of the
// device calls. Any byte string survives Utf8 -> Utf16 -> Utf8 unchanged: each byte of an
// invalid sequence becomes a lone surrogate U+DC80..U+DCFF and turns back into that byte,
// so a file name that is not valid UTF-8 can be listed and handed back to the device.
// Pure functions: thread-safe, no state.
#pragma once

#include <string>
#include <string_view>

namespace zephyrate {

// Valid UTF-8 converts normally (4-byte forms to surrogate pairs). Overlong forms, encoded
// surrogates, values above U+10FFFF, stray and missing continuation bytes are invalid.
std::u16string Utf8ToUtf16(std::string_view text);

// Inverse of Utf8ToUtf16. Lone surrogates U+DC80..U+DCFF become the byte they stand for;
// any other lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace zephyrate
