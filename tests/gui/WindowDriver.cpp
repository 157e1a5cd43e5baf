#include "tests/gui/WindowDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <thread>

namespace zephyrate::test {

namespace {

void Settle() {
    // Let the X server deliver what was sent and GTK handle it.
    for (int i = 0; i < 5; ++i) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(2ms);
    }
    wxTheApp->ProcessIdle();
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(3ms);
    }
}

void Pump(std::chrono::milliseconds time) {
    WaitFor([] { return false; }, time);
}

wxTopLevelWindow* FindWindow(std::string_view title) {
    for (wxWindow* window : wxTopLevelWindows) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(window);
        if (top != nullptr && top->IsShown() && !top->IsBeingDeleted() &&
            top->GetTitle().utf8_string() == title) {
            return top;
        }
    }
    return nullptr;
}

wxTopLevelWindow* WaitForWindow(std::string_view title, std::chrono::milliseconds limit) {
    wxTopLevelWindow* found = nullptr;
    WaitFor([&] { return (found = FindWindow(title)) != nullptr; }, limit);
    if (found != nullptr) {
        Pump(100ms);  // mapped and laid out before anything clicks into it
    }
    return found;
}

void WhenShown(std::string title, std::function<void(wxTopLevelWindow*)> act) {
    // Owned by itself: it goes once it has acted.
    struct Watch : wxTimer {
        std::string title;
        std::function<void(wxTopLevelWindow*)> act;
        void Notify() override {
            if (wxTopLevelWindow* window = FindWindow(title)) {
                Stop();
                Pump(100ms);
                act(window);
                delete this;
            }
        }
    };
    auto* watch = new Watch;
    watch->title = std::move(title);
    watch->act = std::move(act);
    watch->Start(20);
}

wxButton* FindButton(wxWindow* parent, std::string_view label) {
    return FindControl<wxButton>(
        parent, [&](wxButton* button) { return button->GetLabelText().utf8_string() == label; });
}

namespace {

void ClickAt(wxPoint point) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(point);
    Settle();
    simulator.MouseClick();
    Settle();
}

}  // namespace

void Hover(wxWindow* control) {
    const wxRect place = control->GetScreenRect();
    wxUIActionSimulator().MouseMove(place.GetPosition() +
                                    wxSize(place.width / 2, place.height / 2));
    Settle();
}

bool ShowsText(wxWindow* window, std::string_view text) {
    return FindControl<wxStaticText>(window, [&](wxStaticText* label) {
               return label->GetLabel().utf8_string() == text;
           }) != nullptr;
}

void Click(wxWindow* control) {
    ASSERT_NE(control, nullptr) << "nothing to click";
    const wxRect place = control->GetScreenRect();
    ClickAt(place.GetPosition() + wxSize(place.width / 2, place.height / 2));
}

void ClickItem(wxDataViewCtrl* control, const wxDataViewItem& item) {
    control->EnsureVisible(item);
    Settle();
    const wxRect row = control->GetItemRect(item);
    ClickAt(control->ClientToScreen(row.GetPosition() + wxSize(row.width / 2, row.height / 2)));
}

void Type(const std::string& text) {
    wxUIActionSimulator simulator;
    simulator.Text(text.c_str());
    Settle();
}

void Press(int keyCode, int modifiers) {
    wxUIActionSimulator simulator;
    simulator.Char(keyCode, modifiers);
    Settle();
}

std::vector<std::string> LayoutProblems(wxWindow* window) {
    std::vector<std::string> problems;
    const auto name = [](wxWindow* control) {
        return wxString(control->GetClassInfo()->GetClassName()) + wxS(" '") + control->GetLabel() +
               wxS("'");
    };
    std::vector<wxWindow*> shown;
    for (wxWindow* child : window->GetChildren()) {
        if (child->IsShown() && !child->IsTopLevel()) {
            shown.push_back(child);
        }
    }
    const wxRect inside(window->GetClientSize());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        wxWindow* control = shown[i];
        const wxRect place = control->GetRect();
        wxSize need = control->GetBestSize();
        if (dynamic_cast<wxTextCtrl*>(control) != nullptr) {
            // A field scrolls its text; GTK's natural height of a field is generous.
            need = wxSize(0, control->GetCharHeight() + 4);
        }
        const bool shortens = control->HasFlag(wxST_ELLIPSIZE_END | wxST_ELLIPSIZE_START);
        const bool sized = dynamic_cast<wxControl*>(control) != nullptr &&
                           dynamic_cast<wxDataViewCtrl*>(control) == nullptr;
        if (sized && !shortens && (place.width < need.x || place.height < need.y)) {
            problems.push_back(
                (name(control) + wxString::Format(wxS(" is clipped: %dx%d, needs %dx%d"),
                                                  place.width, place.height, need.x, need.y))
                    .utf8_string());
        }
        if (!inside.Contains(place)) {
            problems.push_back((name(control) + wxS(" sticks out")).utf8_string());
        }
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            if (place.Intersects(shown[j]->GetRect())) {
                problems.push_back(
                    (name(control) + wxS(" overlaps ") + name(shown[j])).utf8_string());
            }
        }
        const std::vector<std::string> below = LayoutProblems(control);
        problems.insert(problems.end(), below.begin(), below.end());
    }
    return problems;
}

bool SaveScreenshot(wxWindow* window, const std::string& file) {
    for (wxWindow* top : wxTopLevelWindows) {
        top->Refresh();
        top->Update();
    }
    Pump(300ms);
    window->Raise();
    Pump(100ms);
    const wxRect area = window->GetScreenRect();
    // Read back from the X server, as the user sees it.
    GdkPixbuf* picture = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), area.x, area.y,
                                                    area.width, area.height);
    if (picture == nullptr) {
        return false;
    }
    const bool saved = gdk_pixbuf_save(picture, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(picture);
    return saved;
}

}  // namespace zephyrate::test
