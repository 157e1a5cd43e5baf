// Letter case of ASCII text, the way protocol keys, registry names and index keys compare:
// only A-Z and a-z, whatever the locale.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace zephyrate {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
    return lowered;
}

// Text without the given characters (blanks and tabs unless told) at its start and end.
inline std::string_view TrimAscii(std::string_view text, std::string_view chars = " \t") {
    const std::size_t first = text.find_first_not_of(chars);
    return first == text.npos ? std::string_view()
                              : text.substr(first, text.find_last_not_of(chars) - first + 1);
}
inline std::string_view TrimAsciiEnd(std::string_view text, std::string_view chars = " \t") {
    return text.substr(0, text.find_last_not_of(chars) + 1);  // npos + 1 is 0
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace zephyrate
