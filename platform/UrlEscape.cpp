#include "platform/UrlEscape.h"

#include <cctype>

namespace zephyrate {

namespace {

bool MayStandRaw(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) {
        return false;
    }
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return false;
        default:
            return true;
    }
}

bool StartsEscape(std::string_view rest) {
    return rest.size() >= 3 && rest[0] == '%' &&
           std::isxdigit(static_cast<unsigned char>(rest[1])) &&
           std::isxdigit(static_cast<unsigned char>(rest[2]));
}

// Where the path starts: after "scheme://host", or 0 for text without a scheme. The host
// is left alone: an international name is libcurl's to convert, not ours to escape.
std::size_t PathStart(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return 0;
    }
    const std::size_t path = url.find_first_of("/?#", scheme + 3);
    return path == std::string_view::npos ? url.size() : path;
}

}  // namespace

std::string EscapeUnsafeUrlCharacters(std::string_view url) {
    constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t start = PathStart(url);
    std::string out(url.substr(0, start));
    out.reserve(url.size());
    for (std::size_t i = start; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (MayStandRaw(c) && (c != '%' || StartsEscape(url.substr(i)))) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

}  // namespace zephyrate
