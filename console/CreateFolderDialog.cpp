#include "console/CreateFolderDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "console/Accessible.h"
#include "console/DialogUnits.h"
#include "console/Utf8.h"

namespace zephyrate {

CreateFolderDialog::CreateFolderDialog(wxWindow* parent, std::string_view folder)
    : wxDialog(parent, wxID_ANY, wxS("Create Folder"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    auto* label = new wxStaticText(this, wxID_ANY, wxS("Enter the complete folder name here."));
    field_ = new wxTextCtrl(this, wxID_ANY, Utf8ToWx(folder));
    SetAccessibleName(field_, wxS("Folder name"));
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    auto* cancel = new wxButton(this, wxID_CANCEL, wxS("Cancel"));
    ok->SetDefault();

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(Drawn(ok, 50, 14));
    buttons->AddSpacer(DialogUnits(this, 24, 0).x);
    buttons->Add(Drawn(cancel, 50, 14));
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(Drawn(label, 172, 11));
    all->AddSpacer(DialogUnits(this, 0, 9).y);
    all->Add(Drawn(field_, 172, 12), 0, wxEXPAND);
    all->AddSpacer(DialogUnits(this, 0, 6).y);
    all->Add(buttons);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(all, 1, wxEXPAND | wxALL, DialogUnits(this, 7, 7).x);
    SetSizerAndFit(outer);
    CentreOnParent();
    field_->SetFocus();
    field_->SetInsertionPointEnd();
}

std::string CreateFolderDialog::Folder() const {
    return WxToUtf8(field_->GetValue());
}

}  // namespace zephyrate
