// The login question: the reason's message on top, the user name, and the password with
// its characters hidden, pre-filled with the stored login.
#pragma once

#include <wx/textctrl.h>

#include <string>
#include <string_view>

#include "console/QuestionDialog.h"

namespace zephyrate {

class LoginDialog : public QuestionDialog {
  public:
    LoginDialog(std::string_view message, std::string_view userName, std::string_view password);
    std::string UserName() const;
    std::string Password() const;

  private:
    wxTextCtrl* userName_;
    wxTextCtrl* password_;
};

}  // namespace zephyrate
