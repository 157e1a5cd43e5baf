// The program's help: the pages of the compiled help file shown in a window of its own,
// opening at the file's default topic, its links leading to the other pages of the file.
// The file is read once per process; when it is missing or damaged, help shows nothing.
// Main thread only.
#pragma once

#include <wx/frame.h>
#include <wx/html/htmlwin.h>

#include <string>

namespace zephyrate {

class ChmFile;

class HelpWindow : public wxFrame {
  public:
    // Shows the help file's default topic; false, with nothing shown, when the file cannot
    // be read. The window goes when the user closes it.
    static bool Open(wxWindow* parent, const std::string& helpFile);

  private:
    HelpWindow(wxWindow* parent, const ChmFile& help);
    bool ShowPage(const std::string& name);

    const ChmFile& help_;
    wxHtmlWindow* pages_;
};

}  // namespace zephyrate
