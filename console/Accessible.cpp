#include "console/Accessible.h"

#include <gtk/gtk.h>
#include <wx/dataview.h>

namespace zephyrate {

void SetAccessibleName(wxWindow* window, const wxString& name) {
    window->SetName(name);
    GtkWidget* widget = window->GetHandle();
    // A list's rows live in the tree view inside wxWidgets' scrolled window.
    if (auto* list = dynamic_cast<wxDataViewCtrl*>(window)) {
        widget = list->GtkGetTreeView();
    }
    if (widget == nullptr) {
        return;
    }
    if (AtkObject* accessible = gtk_widget_get_accessible(widget)) {
        atk_object_set_name(accessible, name.utf8_str());
    }
}

}  // namespace zephyrate
