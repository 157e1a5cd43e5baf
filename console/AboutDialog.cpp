#include "console/AboutDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "console/DialogUnits.h"
#include "console/Pictures.h"
#include "console/Utf8.h"
#include "run/Maker.h"

namespace zephyrate {

AboutDialog::AboutDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxS("About Zephyrate"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    auto* icon = new wxStaticBitmap(this, wxID_ANY, PictureBitmap(Picture::Program));
    auto* version = new wxStaticText(this, wxID_ANY, Utf8ToWx(kVersionText));
    auto* site = new wxStaticText(this, wxID_ANY, Utf8ToWx(kMakerWebSite));
    auto* mail = new wxStaticText(this, wxID_ANY, Utf8ToWx(kSupportEmail));
    auto* picture = new wxStaticBitmap(this, wxID_ANY, PictureBitmap(Picture::About),
                                       wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN);
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    ok->SetDefault();

    const int gap = DialogUnits(this, 7, 7).x;
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->AddSpacer(DialogUnits(this, 0, 8).y);
    texts->Add(Drawn(version, 134, 8));
    texts->AddSpacer(DialogUnits(this, 0, 17).y);
    texts->Add(Drawn(site, 134, 8));
    texts->AddSpacer(DialogUnits(this, 0, 6).y);
    texts->Add(Drawn(mail, 134, 8));
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(Drawn(ok, 50, 14), 0, wxALIGN_RIGHT);
    right->AddStretchSpacer();
    right->Add(picture, 0, wxALIGN_RIGHT);
    auto* all = new wxBoxSizer(wxHORIZONTAL);
    all->Add(icon, 0, wxALIGN_TOP);
    all->AddSpacer(gap);
    all->Add(texts, 1);
    all->AddSpacer(gap);
    all->Add(right, 0, wxEXPAND);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(all, 1, wxEXPAND | wxALL, gap);
    SetSizerAndFit(outer);
    CentreOnParent();
}

}  // namespace zephyrate
