#include "console/QuestionDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>

#include <utility>

#include "console/DialogUnits.h"

namespace zephyrate {

QuestionDialog::QuestionDialog(wxWindow* parent, const wxString& title)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(true); }, wxID_OK);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(false); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(false); });
}

QuestionDialog::~QuestionDialog() {
    if (done_) {
        std::exchange(done_, nullptr)(false);
    }
}

void QuestionDialog::Present(bool modal, std::function<void(bool ok)> done) {
    modal_ = modal;
    if (modal) {
        const bool ok = ShowModal() == wxID_OK;
        done(ok);
        Destroy();
        return;
    }
    done_ = std::move(done);
    Show();
    Raise();
}

void QuestionDialog::Finish(bool ok) {
    if (modal_) {
        if (IsModal()) {
            EndModal(ok ? wxID_OK : wxID_CANCEL);
        }
        return;
    }
    if (done_) {
        std::exchange(done_, nullptr)(ok);
        Hide();
        Destroy();
    }
}

void QuestionDialog::Arrange(wxSizer* sizer) {
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(sizer, 1, wxEXPAND | wxALL, DialogUnits(this, 7, 7).x);
    SetSizerAndFit(outer);
    CentreOnScreen();
}

}  // namespace zephyrate
