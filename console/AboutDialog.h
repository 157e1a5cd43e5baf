// The About box: the program's icon, its version, the maker's web site and support
// address, and the About picture.
#pragma once

#include <wx/dialog.h>

namespace zephyrate {

inline constexpr const char* kVersionText = "Zephyrate version 1.06 Lite";

class AboutDialog : public wxDialog {
  public:
    explicit AboutDialog(wxWindow* parent);
};

}  // namespace zephyrate
