// Names for controls that show no text of their own (a picture, a bar, a list, a field),
// so that a screen reader can say what they are; the same name is the control's wxWidgets
// name. wxWidgets has no accessibility interface on GTK; the name is set on the GTK
// widget's accessible object.
// Main thread only.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

namespace zephyrate {

void SetAccessibleName(wxWindow* window, const wxString& name);

}  // namespace zephyrate
