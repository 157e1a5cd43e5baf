// The program's texts are UTF-8; wxWidgets is built here without implicit conversions
// from char, so every text passes through these.
#pragma once

#include <wx/string.h>

#include <string>
#include <string_view>

namespace zephyrate {

inline wxString Utf8ToWx(std::string_view text) {
    return wxString::FromUTF8(text.data(), text.size());
}

inline std::string WxToUtf8(const wxString& text) {
    return text.ToStdString(wxConvUTF8);
}

}  // namespace zephyrate
