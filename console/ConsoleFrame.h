// The console: the program's main window. It shows the provider's logo and details, the
// status line, the progress bar with the throughput, the buttons, the force check box, the
// collapsible job list and the options menu, owns what a run needs for the window's whole
// life (settings, internet session, device, console, the run's worker) and starts a run by
// itself as soon as it shows, and again when the program is started once more.
//
// Two modes: idle ("Synchronize", "Close", device path and login items enabled) and
// running ("Cancel all jobs", "Cancel this job", those items greyed).
//
// Threads: the main thread. The run's worker reaches the window only through its
// WindowSurface; the window is never destroyed under a running worker: closing it during
// a run cancels all jobs and closes once the run has ended.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dataview.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "console/WindowSurface.h"
#include "engine/RunWorker.h"
#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "settings/SettingsStore.h"

namespace zephyrate {

class QuestionDialog;

class ConsoleFrame : public wxFrame, private WindowSurface::Questions {
  public:
    struct Setup {
        std::string settingsPath;
        std::string deviceFolder;
        bool createDeviceFolder = false;  // the default folder is made when missing
        std::string helpFile;             // ZephyratePro.chm
        // Opens an address in the desktop's web browser; false when it could not.
        std::function<bool(const std::string& address)> openBrowser;
        // Called on every tick of the window's 100 ms timer, also while a dialog or a
        // question is open; true when another start of the program asks for a run.
        std::function<bool()> onTimer;
    };

    // Builds the window; nothing shows before Open().
    explicit ConsoleFrame(Setup setup);
    ~ConsoleFrame() override;

    // The menu commands; wxWidgets menu ids stay below 0x7fff.
    enum Command {
        kSetDevicePath = wxID_HIGHEST + 1,
        kEditLoginInfo,
        kProxySettings,
        kAutoClose,
        kMinimizeOnStartup,
        kAbout,
        kHelp,
    };

    // Shows the window (minimised when the user asked for it) and starts the first run as
    // soon as the event loop runs.
    void Open();

    Console& GetConsole() { return console_; }
    SettingsStore& Settings() { return settings_; }

  private:
    void BuildControls();
    void BuildMenu();
    void ShowDetails(bool expanded);
    void SetRunningMode(bool running);
    void StartSyncRun(bool byUser);
    // Another start of the program: come to the front, and run unless a run is going.
    void OnStartMessage();
    void OnRunEnded(RunOutcome outcome, bool jobRan);
    void Paint();
    void ApplyRow(const WindowSurface::RowChange& change);
    void ShowProgressBar();

    void OnCloseOrCancelThis(wxCommandEvent& event);
    void OnSynchronizeOrCancelAll(wxCommandEvent& event);
    void OnDetails(wxCommandEvent& event);
    void OnLogoClick(wxMouseEvent& event);
    void OnSetDevicePath(wxCommandEvent& event);
    void OnEditLoginInfo(wxCommandEvent& event);
    void OnProxySettings(wxCommandEvent& event);
    void OnToggleSetting(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);

    // The questions of the run's worker and of the menu's commands.
    void AskUrl(bool modal, Reply<std::optional<std::string>> reply) override;
    void AskLogin(bool modal, int reason, Login login, Reply<std::optional<Login>> reply) override;
    void AskDestination(bool modal, std::string message, Destination destination,
                        Reply<std::optional<Destination>> reply) override;
    void AskMessage(bool modal, std::string text, std::string caption,
                    ConsoleSurface::Buttons buttons, Reply<ConsoleSurface::Answer> reply) override;
    void PaintPending() override { Paint(); }
    // Shows a question; a question shown for the worker is kept until it is answered, so
    // that closing the window can answer it Cancel.
    void Present(QuestionDialog* dialog, bool modal, std::function<void(bool ok)> done);
    void CancelOpenQuestions();

    Setup setup_;
    SettingsStore settings_;
    InternetSession session_;
    FolderDevice device_;
    WindowSurface surface_;
    Console console_;

    wxPanel* panel_ = nullptr;
    wxStaticBitmap* logo_ = nullptr;
    std::array<wxStaticText*, 4> details_{};
    wxStaticText* status_ = nullptr;
    wxStaticText* throughput_ = nullptr;
    wxGauge* progress_ = nullptr;
    wxCheckBox* force_ = nullptr;
    wxButton* closeButton_ = nullptr;
    wxButton* syncButton_ = nullptr;
    wxButton* detailsButton_ = nullptr;
    wxSizer* detailsPart_ = nullptr;
    wxBoxSizer* layout_ = nullptr;
    wxDataViewListCtrl* jobList_ = nullptr;
    std::vector<wxString> rowObjects_;  // the object text of each row, for its icon changes
    std::array<wxBitmapBundle, 4> rowImages_;
    wxTimer heartbeat_;
    wxTimer painter_;

    std::string providerLink_;
    std::uint32_t progressRange_ = 0;
    std::uint32_t progressPosition_ = 0;
    bool detailsExpanded_ = false;
    bool suppressAutoClose_ = false;
    bool closeRequested_ = false;
    std::vector<QuestionDialog*> openQuestions_;

    // Last: its destructor waits for a run still going, while everything above is there.
    RunWorker worker_;
};

}  // namespace zephyrate
