// The destination question: a tree of the device's folders, listed one level at a time
// when the user first opens a folder (nothing is listed before), the chosen path, a
// button that creates a folder with its parents, and the automatic path selection box.
// Main thread; the device is called synchronously while the worker of a run, if any,
// waits for the answer.
#pragma once

#include <wx/checkbox.h>
#include <wx/dataview.h>
#include <wx/textctrl.h>

#include <set>
#include <string>
#include <string_view>

#include "console/QuestionDialog.h"
#include "device/DeviceContext.h"

namespace zephyrate {

class DestinationDialog : public QuestionDialog {
  public:
    // message: empty for the dialog's own text.
    DestinationDialog(DeviceContext context, std::string_view message, std::string_view path,
                      bool automatic);

    std::string Path() const { return path_; }
    bool Automatic() const { return automatic_->GetValue(); }

  private:
    void InsertDeviceRoot();
    void AddFolder(wxDataViewItem parent, std::string_view name, bool hasSubfolders);
    void OnExpanding(wxDataViewEvent& event);
    void OnSelectionChanged(wxDataViewEvent& event);
    void OnCreateFolder(wxCommandEvent& event);
    std::string ItemPath(wxDataViewItem item) const;

    DeviceContext context_;
    const wxBitmapBundle folderClosed_;
    const wxBitmapBundle folderOpen_;
    std::string path_;
    wxTextCtrl* pathField_;
    wxDataViewTreeCtrl* tree_;
    wxCheckBox* automatic_;
    wxDataViewItem selected_;
    std::set<void*> listed_;  // items whose level was listed
};

}  // namespace zephyrate
