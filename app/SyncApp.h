// The window program's start-up and end. One copy runs at a time: a second start hands
// over to the running copy, which starts a run, and ends with exit code 1; one that finds
// the running copy hung ends it and runs in its place, or ends with exit code 2 when it
// may not. The first copy finds its settings, device folder and logs, and opens the
// console window, which does the rest; the program ends when the window closes.
#pragma once

#include <wx/app.h>

#include <optional>

#include "app/InstanceGuard.h"
#include "platform/NetworkLayer.h"

namespace zephyrate {

class SyncApp : public wxApp {
  public:
    bool OnInit() override;
    int OnRun() override;
    int OnExit() override;

  private:
    InstanceGuard guard_;  // made with the application, so a hand-over is caught from the start
    std::optional<NetworkLayer> network_;
    bool windowOpen_ = false;
};

}  // namespace zephyrate
