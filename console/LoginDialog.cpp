#include "console/LoginDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "console/Accessible.h"
#include "console/DialogUnits.h"
#include "console/Utf8.h"

namespace zephyrate {

LoginDialog::LoginDialog(std::string_view message, std::string_view userName,
                         std::string_view password)
    : QuestionDialog(nullptr, wxS("Login information")) {
    auto* reason = new wxStaticText(this, wxID_ANY, Utf8ToWx(message));
    auto* userLabel = new wxStaticText(this, wxID_ANY, wxS("Username:"));
    userName_ = new wxTextCtrl(this, wxID_ANY, Utf8ToWx(userName));
    SetAccessibleName(userName_, wxS("Username"));
    auto* passwordLabel = new wxStaticText(this, wxID_ANY, wxS("Password:"));
    password_ = new wxTextCtrl(this, wxID_ANY, Utf8ToWx(password), wxDefaultPosition, wxDefaultSize,
                               wxTE_PASSWORD);
    SetAccessibleName(password_, wxS("Password"));
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    auto* cancel = new wxButton(this, wxID_CANCEL, wxS("Cancel"));
    ok->SetDefault();

    const int gap = DialogUnits(this, 0, 4).y;
    auto* fields = new wxBoxSizer(wxVERTICAL);
    fields->Add(Drawn(reason, 160, 10), 0, wxEXPAND);
    fields->AddSpacer(2 * gap);
    fields->Add(userLabel);
    fields->Add(Drawn(userName_, 160, 12), 0, wxEXPAND);
    fields->AddSpacer(gap);
    fields->Add(passwordLabel);
    fields->Add(Drawn(password_, 160, 12), 0, wxEXPAND);
    fields->AddSpacer(2 * gap);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    buttons->Add(Drawn(ok, 50, 14));
    buttons->AddSpacer(gap);
    buttons->Add(Drawn(cancel, 50, 14));
    fields->Add(buttons, 0, wxEXPAND);
    Arrange(fields);
    userName_->SetFocus();
}

std::string LoginDialog::UserName() const {
    return WxToUtf8(userName_->GetValue());
}

std::string LoginDialog::Password() const {
    return WxToUtf8(password_->GetValue());
}

}  // namespace zephyrate
