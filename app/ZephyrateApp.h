// The window program's start-up: where its settings, device folder and logs are, and the
// console window that does the rest. The program ends when the window closes.
#pragma once

#include <wx/app.h>

namespace zephyrate {

class ZephyrateApp : public wxApp {
  public:
    bool OnInit() override;
};

}  // namespace zephyrate
