#include "console/DestinationDialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <optional>
#include <utility>
#include <vector>

#include "console/Accessible.h"
#include "console/CreateFolderDialog.h"
#include "console/DialogUnits.h"
#include "console/MessageDialog.h"
#include "console/Pictures.h"
#include "console/Utf8.h"
#include "device/FolderBrowser.h"
#include "platform/EnsureFolder.h"

namespace zephyrate {

namespace {

constexpr std::string_view kDefaultMessage = "Enter here the root path on your device.";
constexpr int kClosedFolder = 0;
constexpr int kOpenFolder = 1;

// The tree's own store sorts folders with subfolders before the others; the device's
// folders come sorted by name and stay in that order.
class ListedOrderStore : public wxDataViewTreeStore {
  public:
    bool HasDefaultCompare() const override { return false; }
};

}  // namespace

DestinationDialog::DestinationDialog(DeviceContext context, std::string_view message,
                                     std::string_view path, bool automatic)
    : QuestionDialog(nullptr, wxS("Destination Path")),
      context_(std::move(context)),
      folderClosed_(PictureBitmap(Picture::FolderClosed)),
      folderOpen_(PictureBitmap(Picture::FolderOpen)),
      path_(path) {
    auto* text =
        new wxStaticText(this, wxID_ANY, Utf8ToWx(message.empty() ? kDefaultMessage : message));
    auto* create = new wxButton(this, wxID_ANY, wxS("Create Folder"));
    pathField_ = new wxTextCtrl(this, wxID_ANY, Utf8ToWx(path), wxDefaultPosition, wxDefaultSize,
                                wxTE_READONLY);
    SetAccessibleName(pathField_, wxS("Path on the device"));
    tree_ = new wxDataViewTreeCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                   wxDV_NO_HEADER | wxDV_SINGLE);
    SetAccessibleName(tree_, wxS("Device folders"));
    auto* store = new ListedOrderStore;  // reference counted: the tree keeps it
    tree_->AssociateModel(store);
    store->DecRef();
    automatic_ = new wxCheckBox(this, wxID_ANY, wxS("Enable automatic path selection"));
    automatic_->SetValue(automatic);
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    auto* cancel = new wxButton(this, wxID_CANCEL, wxS("Cancel"));
    ok->SetDefault();

    text->Wrap(DialogUnits(this, 135, 0).x);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(Drawn(text, 135, 16), 0, wxEXPAND);
    all->AddSpacer(DialogUnits(this, 0, 5).y);
    all->Add(Drawn(create, 48, 12), 0, wxALIGN_RIGHT);
    all->AddSpacer(DialogUnits(this, 0, 3).y);
    all->Add(Drawn(pathField_, 135, 12), 0, wxEXPAND);
    all->AddSpacer(DialogUnits(this, 0, 4).y);
    all->Add(Drawn(tree_, 135, 105), 1, wxEXPAND);
    all->AddSpacer(DialogUnits(this, 0, 4).y);
    all->Add(Drawn(automatic_, 135, 11));
    all->AddSpacer(DialogUnits(this, 0, 6).y);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(Drawn(ok, 47, 13));
    buttons->AddSpacer(DialogUnits(this, 9, 0).x);
    buttons->Add(Drawn(cancel, 47, 13));
    all->Add(buttons);
    Arrange(all);

    wxVector<wxBitmapBundle> images;
    images.push_back(folderClosed_);
    images.push_back(folderOpen_);
    tree_->SetImages(images);
    InsertDeviceRoot();

    tree_->Bind(wxEVT_DATAVIEW_ITEM_EXPANDING, &DestinationDialog::OnExpanding, this);
    tree_->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, &DestinationDialog::OnSelectionChanged, this);
    create->Bind(wxEVT_BUTTON, &DestinationDialog::OnCreateFolder, this);
}

void DestinationDialog::InsertDeviceRoot() {
    listed_.clear();
    selected_ = wxDataViewItem();
    tree_->DeleteAllItems();
    AddFolder(wxDataViewItem(), kDeviceTopItemText, true);
}

void DestinationDialog::AddFolder(wxDataViewItem parent, std::string_view name,
                                  bool hasSubfolders) {
    if (!hasSubfolders) {
        tree_->AppendItem(parent, Utf8ToWx(name), kClosedFolder);
        return;
    }
    // GTK draws an expand button only for an item with children: a folder with subfolders
    // holds a placeholder until its level is listed.
    const wxDataViewItem folder =
        tree_->AppendContainer(parent, Utf8ToWx(name), kClosedFolder, kOpenFolder);
    tree_->AppendItem(folder, wxString());
}

std::string DestinationDialog::ItemPath(wxDataViewItem item) const {
    std::vector<std::string> names;
    for (wxDataViewItem at = item; at.IsOk(); at = tree_->GetStore()->GetParent(at)) {
        names.insert(names.begin(), WxToUtf8(tree_->GetItemText(at)));
    }
    if (!names.empty()) {
        names.erase(names.begin());  // the device's top item stands for the empty path
    }
    return FolderItemPath(names);
}

void DestinationDialog::OnExpanding(wxDataViewEvent& event) {
    const wxDataViewItem item = event.GetItem();
    if (!item.IsOk() || !listed_.insert(item.GetID()).second) {
        return;  // listed when it was first opened
    }
    const wxDataViewItem placeholder = tree_->GetNthChild(item, 0);
    wxBusyCursor busy;
    const std::optional<std::vector<DeviceFolder>> folders =
        ListFolderLevel(context_, ItemPath(item));
    // A level that cannot be listed shows no subfolders.
    for (const DeviceFolder& folder : folders.value_or(std::vector<DeviceFolder>{})) {
        AddFolder(item, folder.name, folder.hasSubfolders);
    }
    // Removed last: a folder that loses its last child closes again.
    if (placeholder.IsOk()) {
        tree_->DeleteItem(placeholder);
    }
}

void DestinationDialog::OnSelectionChanged(wxDataViewEvent&) {
    // The selected folder shows open.
    if (selected_.IsOk()) {
        tree_->SetItemIcon(selected_, folderClosed_);
    }
    selected_ = tree_->GetSelection();
    if (!selected_.IsOk()) {
        return;
    }
    tree_->SetItemIcon(selected_, folderOpen_);
    path_ = ItemPath(selected_);
    pathField_->ChangeValue(Utf8ToWx(path_));
}

void DestinationDialog::OnCreateFolder(wxCommandEvent&) {
    CreateFolderDialog ask(this, path_);
    if (ask.ShowModal() != wxID_OK) {
        return;
    }
    const std::string folder = ask.Folder();
    if (!EnsureFolder(context_.device, folder)) {
        (new MessageDialog(this, kCreateFolderFailedText, "Zephyrate", ConsoleSurface::Buttons::Ok))
            ->Present(true, [](bool) {});
        return;
    }
    path_ = folder;
    pathField_->ChangeValue(Utf8ToWx(path_));
    InsertDeviceRoot();
}

}  // namespace zephyrate
