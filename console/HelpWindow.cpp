#include "console/HelpWindow.h"

#include <map>
#include <memory>
#include <optional>

#include "console/Utf8.h"
#include "platform/ChmFile.h"

namespace zephyrate {

namespace {

// The help files read so far, by path: each is read once per process and kept, as the
// program keeps its help library once loaded; one that cannot be read stays unread.
const ChmFile* HelpFile(const std::string& path) {
    static std::map<std::string, std::unique_ptr<ChmFile>> files;
    auto [at, added] = files.try_emplace(path);
    if (added) {
        at->second = std::make_unique<ChmFile>(path);
    }
    return at->second->IsOpen() ? at->second.get() : nullptr;
}

}  // namespace

bool HelpWindow::Open(wxWindow* parent, const std::string& helpFile) {
    const ChmFile* help = HelpFile(helpFile);
    if (help == nullptr) {
        return false;
    }
    auto* window = new HelpWindow(parent, *help);  // owned by wxWidgets once shown
    if (!window->ShowPage(help->DefaultTopic())) {
        window->Destroy();
        return false;
    }
    window->Show();
    return true;
}

HelpWindow::HelpWindow(wxWindow* parent, const ChmFile& help)
    : wxFrame(parent, wxID_ANY, wxS("Zephyrate Help"), wxDefaultPosition, wxSize(640, 520)),
      help_(help) {
    pages_ = new wxHtmlWindow(this);
    // The title of the page shown becomes the window's.
    pages_->SetRelatedFrame(this, wxS("%s"));
    pages_->Bind(wxEVT_HTML_LINK_CLICKED, [this](wxHtmlLinkEvent& event) {
        const wxString target = event.GetLinkInfo().GetHref().BeforeFirst('#');
        if (!ShowPage("/" + WxToUtf8(target.AfterLast('/')))) {
            event.Skip();  // not a page of the file: an address for the browser
        }
    });
    CentreOnParent();
}

bool HelpWindow::ShowPage(const std::string& name) {
    const std::optional<std::string> page = help_.Read(name);
    return page && pages_->SetPage(Utf8ToWx(*page));
}

}  // namespace zephyrate
