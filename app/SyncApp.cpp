#include "app/SyncApp.h"

#include <wx/msgdlg.h>
#include <wx/stdpaths.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "console/ConsoleFrame.h"
#include "platform/DeviceFolderLocation.h"
#include "platform/LocalFiles.h"
#include "platform/LogFolder.h"
#include "platform/Processes.h"
#include "platform/RegistryFile.h"

namespace zephyrate {

namespace {

constexpr int kHandedOver = 1;
constexpr int kNoTakeOver = 2;

ConsoleFrame::Setup WindowSetup() {
    ConsoleFrame::Setup setup;
    setup.settingsPath = AbsoluteLocalPath(RegistryFile::DefaultLocation(""));
    const DeviceFolderChoice device =
        DeviceFolderLocation::Choose("", SettingsStore(setup.settingsPath).DeviceFolder());
    setup.deviceFolder = AbsoluteLocalPath(device.path);
    setup.createDeviceFolder = device.createWhenMissing;
    // The help file is installed beside the program.
    setup.helpFile =
        (std::filesystem::path(wxStandardPaths::Get().GetExecutablePath().utf8_string())
             .parent_path() /
         "ZephyratePro.chm")
            .string();
    return setup;
}

}  // namespace

bool SyncApp::OnInit() {
    SetAppName(wxS("zephyrate"));
    SetAppDisplayName(wxS("Zephyrate"));

    ConsoleFrame::Setup setup = WindowSetup();
    setup.onTimer = [this] {
        guard_.Beat();
        return guard_.TakeStartMessage();
    };
    // The window is made before the lock is tested; a copy that hands over never shows it.
    auto* console = new ConsoleFrame(std::move(setup));  // owned by wxWidgets

    switch (guard_.Claim()) {
        case InstanceGuard::Start::Owner:
            break;
        case InstanceGuard::Start::HandedOver:
            std::_Exit(kHandedOver);  // at once: nothing of this copy is shown or cleaned up
        case InstanceGuard::Start::NoTakeOver:
            std::_Exit(kNoTakeOver);
    }

    network_.emplace();
    if (!network_->Ready()) {
        wxMessageBox(wxS("Windows sockets initialization failed."), GetAppDisplayName(),
                     wxOK | wxICON_WARNING);
        console->Destroy();
        return true;  // no window: OnRun ends at once, OnExit lets the lock go
    }

    // The update logs are written by a bare name: they go to the log folder, or, when it
    // cannot be used, to the folder the program started in, after the user was told.
    const std::optional<std::string> logFolder = DefaultLogFolder();
    const std::string problem =
        logFolder ? EnterLogFolder(*logFolder) : "no log folder: HOME is not set";
    if (!problem.empty()) {
        wxMessageBox(
            wxString::FromUTF8(problem) + wxS("\nThe update logs go to the current folder."),
            GetAppDisplayName(), wxOK | wxICON_WARNING);
    }

    console->Open();
    // The token only tells that the window is up; the owner is found through the lock.
    guard_.PublishWindow(OwnProcessId());
    windowOpen_ = true;
    return true;
}

int SyncApp::OnRun() {
    return windowOpen_ ? wxApp::OnRun() : 0;
}

int SyncApp::OnExit() {
    guard_.Release();
    return wxApp::OnExit();
}

}  // namespace zephyrate

wxIMPLEMENT_APP(zephyrate::SyncApp);
