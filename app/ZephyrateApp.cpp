#include "app/ZephyrateApp.h"

#include <wx/msgdlg.h>
#include <wx/stdpaths.h>

#include <filesystem>
#include <optional>
#include <string>

#include "console/ConsoleFrame.h"
#include "platform/DeviceFolderLocation.h"
#include "platform/LocalFiles.h"
#include "platform/LogFolder.h"
#include "platform/RegistryFile.h"

namespace zephyrate {

bool ZephyrateApp::OnInit() {
    SetAppName(wxS("zephyrate"));
    SetAppDisplayName(wxS("Zephyrate"));

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

    // The update logs are written by a bare name: they go to the log folder, or, when it
    // cannot be used, to the folder the program started in, after the user was told.
    const std::optional<std::string> logFolder = DefaultLogFolder();
    const std::string problem =
        logFolder ? EnterLogFolder(*logFolder) : "no log folder: HOME is not set";
    if (!problem.empty()) {
        wxMessageBox(
            wxString::FromUTF8(problem) + wxS("\nThe update logs go to the current folder."),
            wxS("Zephyrate"), wxOK | wxICON_WARNING);
    }

    new ConsoleFrame(std::move(setup));  // owned by wxWidgets, like every top window
    return true;
}

}  // namespace zephyrate

wxIMPLEMENT_APP(zephyrate::ZephyrateApp);
