// The window's layouts are drawn in dialog units (a quarter of the font's average
// character width, an eighth of its height), so they scale with the desktop's font. Each
// control gets the larger of its drawn size and the size GTK needs for its text, so that
// no text is clipped.
// Main thread only.
#pragma once

#include <wx/window.h>

namespace zephyrate {

inline wxSize DialogUnits(wxWindow* window, int width, int height) {
    return window->ConvertDialogToPixels(wxSize(width, height));
}

// Gives control the larger of its drawn size (width x height dialog units of its parent's
// font) and its natural size, and returns it for the sizer.
inline wxWindow* Drawn(wxWindow* control, int width, int height) {
    const wxSize drawn = DialogUnits(control->GetParent(), width, height);
    const wxSize natural = control->GetBestSize();
    control->SetMinSize(wxSize(std::max(drawn.x, natural.x), std::max(drawn.y, natural.y)));
    return control;
}

// A fixed size that ignores the text's length (a label that shows long texts shortened).
inline wxWindow* Fixed(wxWindow* control, int width, int height) {
    const wxSize drawn = DialogUnits(control->GetParent(), width, height);
    control->SetMinSize(wxSize(drawn.x, std::max(drawn.y, control->GetCharHeight() + 2)));
    return control;
}

}  // namespace zephyrate
