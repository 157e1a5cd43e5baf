// Driving the real window in the window tests: a wxWidgets application made once per
// process on the X server of the test (scripts/with-xvfb), the event loop run until a
// condition holds, windows found by title and controls by kind and label, and real
// pointer clicks and key presses through the X server (wxUIActionSimulator).
// Main thread only.
#pragma once

#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrate::test {

using namespace std::chrono_literals;

// Runs the event loop until done() holds; false when limit passed first.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s);
// Runs the event loop for a while.
void Pump(std::chrono::milliseconds time);

// A shown top-level window with this title, or nullptr.
wxTopLevelWindow* FindWindow(std::string_view title);
// Waits for it; nullptr when it did not show.
wxTopLevelWindow* WaitForWindow(std::string_view title, std::chrono::milliseconds limit = 10s);

// Runs act once a window with this title shows, from whatever event loop runs then: a
// dialog shown modally by the main thread runs its own loop, in which the test's own code
// cannot run.
void WhenShown(std::string title, std::function<void(wxTopLevelWindow*)> act);

// The first control of type T below parent for which match holds.
template <class T>
T* FindControl(wxWindow* parent, const std::function<bool(T*)>& match = {}) {
    for (wxWindow* child : parent->GetChildren()) {
        if (auto* found = dynamic_cast<T*>(child); found != nullptr && (!match || match(found))) {
            return found;
        }
        if (T* below = FindControl<T>(child, match)) {
            return below;
        }
    }
    return nullptr;
}
wxButton* FindButton(wxWindow* parent, std::string_view label);
// Whether a label below window reads text.
bool ShowsText(wxWindow* window, std::string_view text);

// Moves the pointer over the control's centre: without a window manager, key presses go to
// the window under the pointer.
void Hover(wxWindow* control);
// A real click at the control's centre.
void Click(wxWindow* control);
// A real click on an item of a list or tree.
void ClickItem(wxDataViewCtrl* control, const wxDataViewItem& item);
// Real key presses of text (ASCII) into the control that has the focus.
void Type(const std::string& text);
// A real press of one key, with modifiers (wxMOD_*).
void Press(int keyCode, int modifiers = wxMOD_NONE);

// What is wrong with a window's layout: a control smaller than its text needs (labels
// that shorten long texts with an ellipsis aside), a control outside its parent, or two
// controls that overlap. Empty when nothing is.
std::vector<std::string> LayoutProblems(wxWindow* window);

// Saves what the screen shows of window as a PNG file.
bool SaveScreenshot(wxWindow* window, const std::string& file);

}  // namespace zephyrate::test
