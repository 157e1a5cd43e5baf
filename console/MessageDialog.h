// A message owned by the console: its text, the program's caption and either OK or Retry
// and Cancel (the question asked when the device does not answer).
#pragma once

#include <string_view>

#include "console/QuestionDialog.h"
#include "run/ConsoleSurface.h"

namespace zephyrate {

class MessageDialog : public QuestionDialog {
  public:
    MessageDialog(wxWindow* parent, std::string_view text, std::string_view caption,
                  ConsoleSurface::Buttons buttons);
};

}  // namespace zephyrate
