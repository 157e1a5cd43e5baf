// Asks for the complete device path of a folder to create, pre-filled with the path
// chosen so far.
#pragma once

#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <string>
#include <string_view>

namespace zephyrate {

class CreateFolderDialog : public wxDialog {
  public:
    CreateFolderDialog(wxWindow* parent, std::string_view folder);
    std::string Folder() const;

  private:
    wxTextCtrl* field_;
};

}  // namespace zephyrate
