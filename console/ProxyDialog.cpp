#include "console/ProxyDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>

#include <algorithm>

#include "console/Accessible.h"
#include "console/DialogUnits.h"
#include "console/Utf8.h"

namespace zephyrate {

namespace {

wxTextCtrl* Field(wxWindow* parent, const std::string& text, const wxString& name) {
    auto* field = new wxTextCtrl(parent, wxID_ANY, Utf8ToWx(text));
    SetAccessibleName(field, name);
    return field;
}

}  // namespace

ProxyDialog::ProxyDialog(wxWindow* parent, const ProxyForm& form)
    : wxDialog(parent, wxID_ANY, wxS("Zephyrate Proxy Settings"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    choices_[0] = new wxRadioButton(this, wxID_ANY, wxS("Use direct connection"), wxDefaultPosition,
                                    wxDefaultSize, wxRB_GROUP);
    choices_[1] = new wxRadioButton(this, wxID_ANY, wxS("Use IE proxy settings"));
    choices_[2] = new wxRadioButton(this, wxID_ANY, wxS("Use manual proxy settings"));
    serverLabel_ = new wxStaticText(this, wxID_ANY, wxS("Server:"));
    server_ = Field(this, form.server, wxS("Server"));
    portLabel_ = new wxStaticText(this, wxID_ANY, wxS("HTTP Port:"));
    port_ = Field(this, form.port, wxS("HTTP Port"));
    authorisation_ = new wxCheckBox(this, wxID_ANY, wxS("Proxy authorisation required"));
    authorisation_->SetValue(form.authorisation);
    userNameLabel_ = new wxStaticText(this, wxID_ANY, wxS("Username:"));
    userName_ = Field(this, form.userName, wxS("Username"));
    passwordLabel_ = new wxStaticText(this, wxID_ANY, wxS("Password:"));
    password_ = Field(this, form.password, wxS("Password"));  // shown, as typed
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    auto* cancel = new wxButton(this, wxID_CANCEL, wxS("Cancel"));
    ok->SetDefault();
    // The stored value always maps to one of the three (unknown ones to the system's).
    choices_[static_cast<std::size_t>(std::clamp(form.choice, 0, 2))]->SetValue(true);

    const int row = DialogUnits(this, 0, 3).y;
    auto* fields = new wxFlexGridSizer(2, row, DialogUnits(this, 4, 0).x);
    fields->Add(Drawn(serverLabel_, 47, 8), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(Drawn(server_, 105, 12), 1, wxEXPAND);
    fields->Add(Drawn(portLabel_, 47, 8), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(Drawn(port_, 105, 12), 1, wxEXPAND);
    auto* login = new wxFlexGridSizer(2, row, DialogUnits(this, 4, 0).x);
    login->Add(Drawn(userNameLabel_, 41, 8), 0, wxALIGN_CENTER_VERTICAL);
    login->Add(Drawn(userName_, 93, 12), 1, wxEXPAND);
    login->Add(Drawn(passwordLabel_, 41, 8), 0, wxALIGN_CENTER_VERTICAL);
    login->Add(Drawn(password_, 93, 12), 1, wxEXPAND);
    auto* left = new wxBoxSizer(wxVERTICAL);
    for (wxRadioButton* choice : choices_) {
        left->Add(Drawn(choice, 126, 10), 0, wxBOTTOM, DialogUnits(this, 0, 2).y);
    }
    left->AddSpacer(row);
    left->Add(fields, 0, wxLEFT, DialogUnits(this, 9, 0).x);
    left->AddSpacer(3 * row);
    left->Add(Drawn(authorisation_, 106, 10), 0, wxLEFT, DialogUnits(this, 9, 0).x);
    left->AddSpacer(row);
    left->Add(login, 0, wxLEFT, DialogUnits(this, 19, 0).x);
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    buttons->Add(Drawn(ok, 50, 14));
    buttons->AddSpacer(DialogUnits(this, 0, 2).y);
    buttons->Add(Drawn(cancel, 50, 14));
    auto* all = new wxBoxSizer(wxHORIZONTAL);
    all->Add(left, 1);
    all->AddSpacer(DialogUnits(this, 9, 0).x);
    all->Add(buttons);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(all, 1, wxEXPAND | wxALL, DialogUnits(this, 8, 8).x);
    SetSizerAndFit(outer);
    CentreOnScreen();

    for (wxRadioButton* choice : choices_) {
        choice->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateProxyControls(); });
    }
    authorisation_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateProxyControls(); });
    UpdateProxyControls();
}

ProxyForm ProxyDialog::Form() const {
    ProxyForm form;
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        if (choices_[i]->GetValue()) {
            form.choice = static_cast<int>(i);
        }
    }
    form.server = WxToUtf8(server_->GetValue());
    form.port = WxToUtf8(port_->GetValue());
    form.authorisation = authorisation_->GetValue();
    form.userName = WxToUtf8(userName_->GetValue());
    form.password = WxToUtf8(password_->GetValue());
    return form;
}

void ProxyDialog::UpdateProxyControls() {
    const ProxyForm form = Form();
    const ProxyControls enabled = ProxyControlsFor(form.choice, form.authorisation);
    for (wxWindow* control : {static_cast<wxWindow*>(serverLabel_), static_cast<wxWindow*>(server_),
                              static_cast<wxWindow*>(portLabel_), static_cast<wxWindow*>(port_),
                              static_cast<wxWindow*>(authorisation_)}) {
        control->Enable(enabled.server);
    }
    for (wxWindow* control :
         {static_cast<wxWindow*>(userNameLabel_), static_cast<wxWindow*>(userName_),
          static_cast<wxWindow*>(passwordLabel_), static_cast<wxWindow*>(password_)}) {
        control->Enable(enabled.login);
    }
}

}  // namespace zephyrate
