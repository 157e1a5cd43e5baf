// The proxy settings: a direct connection, the system's settings or a proxy given by hand
// (server, port, and a user name and password when it wants a login). The proxy controls
// are enabled only where they apply, and keep their contents when they are not.
// Main thread; shown modally from the menu.
#pragma once

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <array>

#include "settings/ProxySettings.h"

namespace zephyrate {

class ProxyDialog : public wxDialog {
  public:
    ProxyDialog(wxWindow* parent, const ProxyForm& form);
    // The controls' values.
    ProxyForm Form() const;

  private:
    void UpdateProxyControls();

    std::array<wxRadioButton*, 3> choices_{};
    wxStaticText* serverLabel_;
    wxTextCtrl* server_;
    wxStaticText* portLabel_;
    wxTextCtrl* port_;
    wxCheckBox* authorisation_;
    wxStaticText* userNameLabel_;
    wxTextCtrl* userName_;
    wxStaticText* passwordLabel_;
    wxTextCtrl* password_;
};

}  // namespace zephyrate
