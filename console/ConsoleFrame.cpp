#include "console/ConsoleFrame.h"

#include <wx/accel.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <algorithm>
#include <utility>

#include "console/AboutDialog.h"
#include "console/Accessible.h"
#include "console/DestinationDialog.h"
#include "console/DialogUnits.h"
#include "console/HelpWindow.h"
#include "console/LoginDialog.h"
#include "console/MessageDialog.h"
#include "console/Pictures.h"
#include "console/ProxyDialog.h"
#include "console/UrlDialog.h"
#include "console/Utf8.h"
#include "device/DestinationRoot.h"
#include "engine/ServerAccess.h"
#include "engine/SyncRun.h"
#include "run/Maker.h"
#include "settings/ProxySettings.h"

namespace zephyrate {

namespace {

constexpr const char* kCaption = "Zephyrate Lite version";
constexpr const char* kWaitingText = "Waiting for connections to shut down.";
constexpr int kHeartbeatMs = 100;
// The worker's texts and progress are painted at this pace: smooth to the eye, and a
// download at full speed never waits for the screen.
constexpr int kPaintMs = 25;
constexpr int kGaugeRange = 10000;

// Sizes a button for the longest of its captions, so that a mode switch moves nothing;
// it keeps the caption it has.
void SizeForCaptions(wxButton* button, std::initializer_list<const char*> captions) {
    const wxString shown = button->GetLabel();
    wxSize widest = DialogUnits(button->GetParent(), 55, 12);
    for (const char* caption : captions) {
        button->SetLabel(Utf8ToWx(caption));
        widest.IncTo(button->GetBestSize());
    }
    button->SetLabel(shown);
    button->SetMinSize(widest);
}

}  // namespace

ConsoleFrame::ConsoleFrame(Setup setup)
    : wxFrame(nullptr, wxID_ANY, Utf8ToWx(kCaption), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)),
      setup_(std::move(setup)),
      settings_(setup_.settingsPath),
      device_(setup_.deviceFolder, setup_.createDeviceFolder),
      surface_(
          *this, [this](std::function<void()> call) { CallAfter(std::move(call)); },
          [] { return wxThread::IsMain(); }),
      console_(surface_, session_, device_, settings_),
      heartbeat_(this),
      painter_(this),
      worker_(console_) {
    if (!setup_.openBrowser) {
        setup_.openBrowser = [](const std::string& address) {
            return wxLaunchDefaultBrowser(Utf8ToWx(address));
        };
    }
    SetIcons(ProgramIcons());
    BuildMenu();
    BuildControls();

    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { Paint(); }, painter_.GetId());
    Bind(
        wxEVT_TIMER,
        [this](wxTimerEvent&) {
            if (setup_.onTimer && setup_.onTimer()) {
                OnStartMessage();
            }
        },
        heartbeat_.GetId());
    Bind(wxEVT_CLOSE_WINDOW, &ConsoleFrame::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &ConsoleFrame::OnCharHook, this);

    status_->SetLabelText(wxS("Idle..."));
    ShowDetails(false);
    Centre();
    GetMenuBar()->Check(kAutoClose, settings_.AutoClose());
    GetMenuBar()->Check(kMinimizeOnStartup, settings_.Minimize());
}

void ConsoleFrame::Open() {
    heartbeat_.Start(kHeartbeatMs);
    painter_.Start(kPaintMs);
    Show();
    if (settings_.Minimize()) {
        Iconize(true);
    } else {
        Raise();
    }
    // The first run starts as soon as the event loop runs.
    CallAfter([this] {
        if (!console_.Control().Running()) {
            StartSyncRun(false);
        }
    });
}

ConsoleFrame::~ConsoleFrame() {
    // Only a forced end gets here during a run: answer whatever the worker waits for and
    // let it wind down before the objects it uses go.
    console_.Control().SetCancelAll();
    surface_.SetClosing();
    CancelOpenQuestions();
    DeletePendingEvents();  // a question posted but not shown yet answers Cancel
    worker_.Join();
}

void ConsoleFrame::BuildMenu() {
    auto* options = new wxMenu;
    options->Append(kSetDevicePath, wxS("&Set Device Path"));
    options->Append(kEditLoginInfo, wxS("Edit Login Info"));
    options->Append(kProxySettings, wxS("&Proxy settings"));
    options->AppendCheckItem(kAutoClose, wxS("Auto Close"));
    options->AppendCheckItem(kMinimizeOnStartup, wxS("&Minimize on Startup"));
    auto* help = new wxMenu;
    help->Append(kAbout, wxS("&About"));
    help->Append(kHelp, wxS("&Help"));
    auto* bar = new wxMenuBar;
    bar->Append(options, wxS("&Options"));
    bar->Append(help, wxS("help"));
    SetMenuBar(bar);

    Bind(wxEVT_MENU, &ConsoleFrame::OnSetDevicePath, this, kSetDevicePath);
    Bind(wxEVT_MENU, &ConsoleFrame::OnEditLoginInfo, this, kEditLoginInfo);
    Bind(wxEVT_MENU, &ConsoleFrame::OnToggleSetting, this, kAutoClose);
    Bind(wxEVT_MENU, &ConsoleFrame::OnToggleSetting, this, kMinimizeOnStartup);
    Bind(wxEVT_MENU, &ConsoleFrame::OnProxySettings, this, kProxySettings);
    Bind(wxEVT_MENU, &ConsoleFrame::OnAbout, this, kAbout);
    // A help file that cannot be read shows nothing, as its viewer would not start.
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { HelpWindow::Open(this, setup_.helpFile); }, kHelp);
    // F1 asks for help anywhere in the window, as in every dialog of the desktop.
    wxAcceleratorEntry helpKey(wxACCEL_NORMAL, WXK_F1, kHelp);
    SetAcceleratorTable(wxAcceleratorTable(1, &helpKey));
}

void ConsoleFrame::BuildControls() {
    panel_ = new wxPanel(this);
    wxPanel* p = panel_;
    logo_ = new wxStaticBitmap(p, wxID_ANY, PictureBitmap(Picture::Logo));
    logo_->SetCursor(HandCursor());
    logo_->Bind(wxEVT_LEFT_UP, &ConsoleFrame::OnLogoClick, this);
    SetAccessibleName(logo_, wxS("Provider logo, opens the provider's web site"));
    for (std::size_t i = 0; i < details_.size(); ++i) {
        details_[i] = new wxStaticText(p, wxID_ANY, wxS("..."), wxDefaultPosition, wxDefaultSize,
                                       wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END,
                                       wxString::Format(wxS("detail%zu"), i + 1));
    }
    auto* statusLabel = new wxStaticText(p, wxID_ANY, wxS("Status :"));
    status_ = new wxStaticText(p, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                               wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END, wxS("status"));
    throughput_ = new wxStaticText(p, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                                   wxST_NO_AUTORESIZE | wxALIGN_RIGHT | wxST_ELLIPSIZE_START,
                                   wxS("throughput"));
    progress_ = new wxGauge(p, wxID_ANY, kGaugeRange);
    SetAccessibleName(progress_, wxS("Download progress"));
    force_ = new wxCheckBox(p, wxID_ANY, wxS("Force update to device"));
    force_->Bind(wxEVT_CHECKBOX,
                 [this](wxCommandEvent& event) { surface_.SetForceChecked(event.IsChecked()); });
    closeButton_ = new wxButton(p, wxID_ANY, wxS("....."));
    syncButton_ = new wxButton(p, wxID_ANY, wxS("Synchronize"));
    detailsButton_ = new wxButton(p, wxID_ANY, wxS("....."));
    SizeForCaptions(closeButton_, {"Close", "Cancel this job"});
    SizeForCaptions(syncButton_, {"Cancel all jobs"});
    SizeForCaptions(detailsButton_, {"Details >>>", "<<< Details"});
    closeButton_->Bind(wxEVT_BUTTON, &ConsoleFrame::OnCloseOrCancelThis, this);
    syncButton_->Bind(wxEVT_BUTTON, &ConsoleFrame::OnSynchronizeOrCancelAll, this);
    detailsButton_->Bind(wxEVT_BUTTON, &ConsoleFrame::OnDetails, this);
    auto* separator = new wxStaticLine(p);
    jobList_ = new wxDataViewListCtrl(p, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxDV_SINGLE | wxDV_ROW_LINES);
    SetAccessibleName(jobList_, wxS("Details"));
    rowImages_ = {PictureBitmap(Picture::JobDone), PictureBitmap(Picture::JobError),
                  PictureBitmap(Picture::JobWorking), PictureBitmap(Picture::JobQueued)};

    // The drawing's rows, in dialog units: logo and detail lines; status line with the
    // throughput; progress bar; check box and buttons; then, below the separator, the list.
    const int gap = DialogUnits(p, 4, 4).y;
    auto* lines = new wxBoxSizer(wxVERTICAL);
    lines->AddSpacer(DialogUnits(p, 0, 10).y);
    for (wxStaticText* line : details_) {
        lines->Add(Fixed(line, 236, 10), 0, wxEXPAND | wxBOTTOM, DialogUnits(p, 0, 1).y);
    }
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(Drawn(logo_, 100, 68));
    top->AddSpacer(DialogUnits(p, 18, 0).x);
    top->Add(lines, 1);
    auto* statusRow = new wxBoxSizer(wxHORIZONTAL);
    statusRow->Add(Drawn(statusLabel, 26, 10), 0, wxALIGN_CENTER_VERTICAL);
    statusRow->AddSpacer(DialogUnits(p, 3, 0).x);
    statusRow->Add(Fixed(status_, 236, 10), 1, wxALIGN_CENTER_VERTICAL);
    statusRow->AddSpacer(DialogUnits(p, 28, 0).x);
    statusRow->Add(Fixed(throughput_, 61, 10), 0, wxALIGN_CENTER_VERTICAL);
    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(Drawn(force_, 96, 9), 0, wxALIGN_CENTER_VERTICAL);
    buttonRow->AddStretchSpacer();
    buttonRow->Add(closeButton_);
    buttonRow->AddSpacer(DialogUnits(p, 4, 0).x);
    buttonRow->Add(syncButton_);
    buttonRow->AddSpacer(DialogUnits(p, 11, 0).x);
    buttonRow->Add(detailsButton_);
    detailsPart_ = new wxBoxSizer(wxVERTICAL);
    detailsPart_->AddSpacer(gap);
    detailsPart_->Add(separator, 0, wxEXPAND);
    detailsPart_->AddSpacer(2 * gap);
    detailsPart_->Add(Drawn(jobList_, 354, 87), 1, wxEXPAND);

    layout_ = new wxBoxSizer(wxVERTICAL);
    layout_->Add(top, 0, wxEXPAND);
    layout_->AddSpacer(gap);
    layout_->Add(statusRow, 0, wxEXPAND);
    layout_->AddSpacer(gap / 2);
    layout_->Add(Fixed(progress_, 354, 10), 0, wxEXPAND);
    layout_->AddSpacer(gap);
    layout_->Add(buttonRow, 0, wxEXPAND);
    layout_->Add(detailsPart_, 1, wxEXPAND);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(layout_, 1, wxEXPAND | wxALL, DialogUnits(p, 7, 7).x);
    p->SetSizer(outer);

    // The list's columns: "Object" 130 pixels with the row's picture, "Status" the rest.
    jobList_->AppendIconTextColumn(wxS("Object"), wxDATAVIEW_CELL_INERT, 130);
    jobList_->AppendTextColumn(wxS("Status"), wxDATAVIEW_CELL_INERT,
                               std::max(60, jobList_->GetMinSize().x - 130 - 4));
}

void ConsoleFrame::ShowDetails(bool expanded) {
    detailsExpanded_ = expanded;
    detailsButton_->SetLabel(expanded ? wxS("<<< Details") : wxS("Details >>>"));
    layout_->Show(detailsPart_, expanded, true);
    panel_->Layout();
    // Only the height changes; the window keeps its place on the screen.
    SetClientSize(panel_->GetSizer()->GetMinSize());
    panel_->Layout();
}

void ConsoleFrame::SetRunningMode(bool running) {
    wxMenuBar* menu = GetMenuBar();
    if (menu == nullptr) {
        return;
    }
    menu->SetLabel(kSetDevicePath, wxS("Set device path"));
    menu->SetLabel(kEditLoginInfo, wxS("Edit Login Info"));
    menu->Enable(kSetDevicePath, !running);
    menu->Enable(kEditLoginInfo, !running);
    syncButton_->SetLabel(running ? wxS("Cancel all jobs") : wxS("Synchronize"));
    closeButton_->SetLabel(running ? wxS("Cancel this job") : wxS("Close"));
    Refresh();
}

void ConsoleFrame::StartSyncRun(bool byUser) {
    // A run the user started here keeps the window open at its end; one started by the
    // program's start (a launcher or a scheduler) may close it (Auto Close).
    if (!worker_.Start([this](const RunResult& result) {
            const bool jobRan = !console_.Jobs().Rows().empty();
            CallAfter([this, outcome = result.outcome, jobRan] { OnRunEnded(outcome, jobRan); });
        })) {
        return;
    }
    suppressAutoClose_ = byUser;
}

void ConsoleFrame::OnStartMessage() {
    if (IsIconized()) {
        Iconize(false);
    }
    Raise();  // on GTK also the desktop's activation request
    if (!console_.Control().Running()) {
        StartSyncRun(false);
    }
}

void ConsoleFrame::OnRunEnded(RunOutcome outcome, bool jobRan) {
    Paint();
    if (console_.Control().Running()) {
        return;  // a newer run started meanwhile
    }
    worker_.Join();
    const bool autoClose =
        outcome == RunOutcome::Finished && jobRan && !suppressAutoClose_ && settings_.AutoClose();
    if (closeRequested_ || autoClose) {
        Close();
    }
}

void ConsoleFrame::Paint() {
    WindowSurface::Changes changes = surface_.Take();
    if (changes.Empty()) {
        return;
    }
    if (changes.status) {
        status_->SetLabelText(Utf8ToWx(*changes.status));
    }
    for (std::size_t i = 0; i < details_.size(); ++i) {
        if (changes.details[i]) {
            details_[i]->SetLabelText(Utf8ToWx(*changes.details[i]));
        }
    }
    if (changes.throughput) {
        throughput_->SetLabelText(Utf8ToWx(*changes.throughput));
    }
    if (changes.range || changes.position) {
        progressRange_ = changes.range.value_or(progressRange_);
        progressPosition_ = changes.position.value_or(progressPosition_);
        ShowProgressBar();
    }
    if (changes.link) {
        providerLink_ = std::move(*changes.link);
    }
    // changes.logo: every job shows the program's own logo, which is already there.
    if (changes.running) {
        SetRunningMode(*changes.running);
    }
    if (!changes.rows.empty()) {
        jobList_->Freeze();
        for (const WindowSurface::RowChange& change : changes.rows) {
            ApplyRow(change);
        }
        jobList_->Thaw();
    }
}

void ConsoleFrame::ShowProgressBar() {
    const double fraction =
        progressRange_ == 0
            ? 0.0
            : std::min(1.0, static_cast<double>(progressPosition_) / progressRange_);
    progress_->SetValue(static_cast<int>(fraction * kGaugeRange));
}

void ConsoleFrame::ApplyRow(const WindowSurface::RowChange& change) {
    using Kind = WindowSurface::RowChange::Kind;
    const auto image = [this](int index) {
        return rowImages_[static_cast<std::size_t>(std::clamp(index, 0, 3))];
    };
    switch (change.kind) {
        case Kind::Cleared:
            jobList_->DeleteAllItems();
            rowObjects_.clear();
            return;
        case Kind::Added: {
            rowObjects_.push_back(Utf8ToWx(change.object));
            wxVector<wxVariant> values;
            values.push_back(
                wxVariant(wxDataViewIconText(rowObjects_.back(), image(change.image))));
            values.push_back(wxVariant(Utf8ToWx(change.status)));
            jobList_->AppendItem(values);
            return;
        }
        case Kind::Changed: {
            if (change.row < 0 || change.row >= static_cast<int>(rowObjects_.size())) {
                return;
            }
            const auto row = static_cast<unsigned>(change.row);
            wxDataViewListStore* store = jobList_->GetStore();
            store->SetValueByRow(wxVariant(Utf8ToWx(change.status)), row, 1);
            store->SetValueByRow(
                wxVariant(wxDataViewIconText(rowObjects_[row], image(change.image))), row, 0);
            // One change signal for both cells: it redraws the row and makes GTK renew the
            // texts that a screen reader reads.
            store->RowChanged(row);
            return;
        }
    }
}

void ConsoleFrame::OnCloseOrCancelThis(wxCommandEvent&) {
    if (console_.Control().Running()) {
        console_.Control().SetCancelThisJob();
        surface_.SetStatusFromWindow(kWaitingText);
        Paint();
        return;
    }
    Close();
}

void ConsoleFrame::OnSynchronizeOrCancelAll(wxCommandEvent&) {
    if (console_.Control().Running()) {
        console_.Control().SetCancelAll();
        surface_.SetStatusFromWindow(kWaitingText);
        // Idle at once, as the run's next stop check would do: the worker may wait a
        // while for the server before it looks.
        surface_.SetRunningMode(false);
        Paint();
        return;
    }
    StartSyncRun(true);
}

void ConsoleFrame::OnDetails(wxCommandEvent&) {
    ShowDetails(!detailsExpanded_);
}

void ConsoleFrame::OnLogoClick(wxMouseEvent&) {
    // A failure to open is not reported: the browser tells its own troubles.
    setup_.openBrowser(providerLink_.empty() ? std::string(kMakerWebSite) : providerLink_);
}

void ConsoleFrame::OnSetDevicePath(wxCommandEvent&) {
    // The menu item is greyed during a run; the claim also keeps a run from starting
    // while this dialog uses the device.
    if (!console_.Control().TryClaimRunning()) {
        return;
    }
    DeviceContext context = DeviceContextOf(console_);
    zephyrate::OnSetDevicePath(context);
    console_.Control().ClearRunning();
}

void ConsoleFrame::OnEditLoginInfo(wxCommandEvent&) {
    if (!console_.Control().Running()) {
        EditLoginInfo(surface_, settings_);
    }
}

void ConsoleFrame::OnProxySettings(wxCommandEvent&) {
    // Also during a run: the session guards its options, and the next request of the run
    // goes the new way.
    ProxyDialog dialog(this, ReadProxyForm(settings_));
    if (dialog.ShowModal() != wxID_OK) {
        return;
    }
    StoreProxyForm(settings_, dialog.Form());
    ApplyProxy(settings_, session_);
}

void ConsoleFrame::OnToggleSetting(wxCommandEvent& event) {
    // The menu has already turned the check mark; the setting follows at once.
    if (event.GetId() == kAutoClose) {
        settings_.SetAutoClose(event.IsChecked());
    } else {
        settings_.SetMinimize(event.IsChecked());
    }
}

void ConsoleFrame::OnAbout(wxCommandEvent&) {
    AboutDialog(this).ShowModal();
}

void ConsoleFrame::OnCharHook(wxKeyEvent& event) {
    // As in a dialog: Escape closes the window, and so does Enter unless a button has the
    // focus (which Enter then presses).
    const int key = event.GetKeyCode();
    const bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
    if (key == WXK_ESCAPE || (enter && dynamic_cast<wxButton*>(FindFocus()) == nullptr)) {
        Close();
        return;
    }
    event.Skip();
}

void ConsoleFrame::OnClose(wxCloseEvent& event) {
    if (console_.Control().Running() && event.CanVeto()) {
        // The worker still uses the window: stop everything and close when it has ended.
        closeRequested_ = true;
        console_.Control().SetCancelAll();
        surface_.SetClosing();
        CancelOpenQuestions();
        surface_.SetStatusFromWindow(kWaitingText);
        Paint();
        event.Veto();
        return;
    }
    heartbeat_.Stop();
    painter_.Stop();
    Destroy();
}

void ConsoleFrame::Present(QuestionDialog* dialog, bool modal, std::function<void(bool)> done) {
    if (modal) {
        dialog->Present(true, std::move(done));
        return;
    }
    openQuestions_.push_back(dialog);
    dialog->Present(false, [this, dialog, done = std::move(done)](bool ok) {
        std::erase(openQuestions_, dialog);
        done(ok);
    });
}

void ConsoleFrame::CancelOpenQuestions() {
    // Each answers Cancel and leaves the list as it goes.
    while (!openQuestions_.empty()) {
        openQuestions_.back()->Close(true);
    }
}

void ConsoleFrame::AskUrl(bool modal, Reply<std::optional<std::string>> reply) {
    auto* dialog = new UrlDialog;
    Present(dialog, modal, [dialog, reply = std::move(reply)](bool ok) {
        reply(ok ? std::optional(dialog->Url()) : std::nullopt);
    });
}

void ConsoleFrame::AskLogin(bool modal, int reason, Login login,
                            Reply<std::optional<Login>> reply) {
    auto* dialog = new LoginDialog(LoginReasonText(reason), login.userName, login.password);
    Present(dialog, modal, [dialog, reply = std::move(reply)](bool ok) {
        reply(ok ? std::optional(Login{dialog->UserName(), dialog->Password()}) : std::nullopt);
    });
}

void ConsoleFrame::AskDestination(bool modal, std::string message, Destination destination,
                                  Reply<std::optional<Destination>> reply) {
    auto* dialog = new DestinationDialog(DeviceContextOf(console_), message, destination.path,
                                         destination.automatic);
    Present(dialog, modal, [dialog, reply = std::move(reply)](bool ok) {
        reply(ok ? std::optional(Destination{dialog->Path(), dialog->Automatic()}) : std::nullopt);
    });
}

void ConsoleFrame::AskMessage(bool modal, std::string text, std::string caption,
                              ConsoleSurface::Buttons buttons,
                              Reply<ConsoleSurface::Answer> reply) {
    auto* dialog = new MessageDialog(this, text, caption, buttons);
    Present(dialog, modal, [buttons, reply = std::move(reply)](bool ok) {
        if (buttons == ConsoleSurface::Buttons::Ok) {
            reply(ConsoleSurface::Answer::Ok);
        } else {
            reply(ok ? ConsoleSurface::Answer::Retry : ConsoleSurface::Answer::Cancel);
        }
    });
}

}  // namespace zephyrate
