// A dialog that asks the user one question. The main thread shows it modally for its own
// commands; for the worker of a run it shows without blocking the console (GTK's modal
// grab would stop the console's cancel buttons) and answers through a callback. Every way
// of closing it (OK, Cancel, Escape, the window manager's close button, destruction)
// answers exactly once, and only OK takes the fields' values.
// Main thread only.
#pragma once

#include <wx/dialog.h>

#include <functional>

namespace zephyrate {

class QuestionDialog : public wxDialog {
  public:
    QuestionDialog(wxWindow* parent, const wxString& title);
    ~QuestionDialog() override;

    // Shows the dialog and calls done(ok) once it is answered, with the dialog still
    // there to read; then the dialog goes. Modal: returns after done.
    void Present(bool modal, std::function<void(bool ok)> done);

  protected:
    // Answers the question: ok is OK (or Retry), otherwise Cancel.
    void Finish(bool ok);
    // Lays out sizer with the dialog's border and sizes the dialog to it.
    void Arrange(wxSizer* sizer);

  private:
    std::function<void(bool)> done_;
    bool modal_ = false;
};

}  // namespace zephyrate
