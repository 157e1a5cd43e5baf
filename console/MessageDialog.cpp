#include "console/MessageDialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "console/DialogUnits.h"
#include "console/Utf8.h"

namespace zephyrate {

MessageDialog::MessageDialog(wxWindow* parent, std::string_view text, std::string_view caption,
                             ConsoleSurface::Buttons buttons)
    : QuestionDialog(parent, Utf8ToWx(caption)) {
    const bool retry = buttons == ConsoleSurface::Buttons::RetryCancel;
    // Every message of the console tells of a problem.
    auto* icon = new wxStaticBitmap(
        this, wxID_ANY,
        wxArtProvider::GetBitmap(wxASCII_STR(wxART_WARNING), wxASCII_STR(wxART_MESSAGE_BOX)));
    auto* message = new wxStaticText(this, wxID_ANY, Utf8ToWx(text));
    message->Wrap(DialogUnits(this, 200, 0).x);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->AddStretchSpacer();
    if (retry) {
        auto* again = new wxButton(this, wxID_RETRY, wxS("&Retry"));
        again->SetDefault();
        Bind(
            wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(true); }, wxID_RETRY);
        buttonRow->Add(Drawn(again, 50, 14));
        buttonRow->AddSpacer(DialogUnits(this, 4, 0).x);
        buttonRow->Add(Drawn(new wxButton(this, wxID_CANCEL, wxS("Cancel")), 50, 14));
    } else {
        auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
        ok->SetDefault();
        buttonRow->Add(Drawn(ok, 50, 14));
        // Escape and the close button answer OK: there is nothing else to answer.
        SetEscapeId(wxID_OK);
    }
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(icon, 0, wxRIGHT, DialogUnits(this, 7, 0).x);
    top->Add(message, 1, wxALIGN_CENTER_VERTICAL);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(top, 1, wxEXPAND);
    all->AddSpacer(DialogUnits(this, 0, 7).y);
    all->Add(buttonRow, 0, wxEXPAND);
    Arrange(all);
}

}  // namespace zephyrate
