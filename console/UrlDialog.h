// The address prompt of every run: "http://" in front of a field that starts empty; OK
// gives the text exactly as typed (no trimming, no check).
#pragma once

#include <wx/textctrl.h>

#include <string>

#include "console/QuestionDialog.h"

namespace zephyrate {

class UrlDialog : public QuestionDialog {
  public:
    UrlDialog();
    std::string Url() const;

  private:
    wxTextCtrl* field_;
};

}  // namespace zephyrate
