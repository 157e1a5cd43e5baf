#include "console/UrlDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "console/Accessible.h"
#include "console/DialogUnits.h"
#include "console/Utf8.h"

namespace zephyrate {

UrlDialog::UrlDialog() : QuestionDialog(nullptr, wxS("Zephyrate")) {
    auto* scheme = new wxStaticText(this, wxID_ANY, wxS("http://"));
    field_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                            wxTE_NOHIDESEL);
    // GTK gives a text field no accessible name: a screen reader would say only "text".
    SetAccessibleName(field_, wxS("Address"));
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    auto* cancel = new wxButton(this, wxID_CANCEL, wxS("Cancel"));
    ok->SetDefault();

    auto* line = new wxBoxSizer(wxHORIZONTAL);
    line->Add(Drawn(scheme, 23, 11), 0, wxALIGN_CENTER_VERTICAL);
    line->Add(Drawn(field_, 115, 12), 1, wxALIGN_CENTER_VERTICAL);
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    buttons->Add(Drawn(ok, 50, 14));
    buttons->AddSpacer(DialogUnits(this, 0, 3).y);
    buttons->Add(Drawn(cancel, 50, 14));
    auto* all = new wxBoxSizer(wxHORIZONTAL);
    all->Add(line, 1, wxALIGN_TOP);
    all->AddSpacer(DialogUnits(this, 36, 0).x);
    all->Add(buttons, 0);
    Arrange(all);
    field_->SetFocus();
}

std::string UrlDialog::Url() const {
    return WxToUtf8(field_->GetValue());
}

}  // namespace zephyrate
