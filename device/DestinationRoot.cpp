#include "device/DestinationRoot.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "platform/DeviceListing.h"
#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "run/ConsoleSurface.h"
#include "settings/SettingsStore.h"

namespace zephyrate {

namespace {

constexpr std::string_view kInvalidRootText =
    "The specified path is invalid please select another path";
constexpr std::string_view kSetPathText = "Enter an existing path on the device.";
constexpr std::string_view kAutomaticFolder = "\\Zephyrate";
constexpr std::uint32_t kCardAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;

// Any answer but the invalid value means the path is there, be it a folder or a file.
bool RootExists(DeviceContext& context, std::string_view root) {
    WidePath path(root);
    return context.device.CeGetFileAttributes(path.Wide()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool AskRoot(DeviceContext& context, std::string_view message, bool force) {
    SettingsStore& settings = context.settings;
    std::string root = settings.PrePath();
    bool automatic = settings.Dontask();
    if (!force && automatic) {
        return true;
    }
    if (!context.surface.AskDestination(message, root, automatic)) {
        return false;
    }
    settings.SetPrePath(root);
    settings.SetDontask(automatic);
    return true;
}

bool SettleRoot(DeviceContext& context, bool automaticAllowed) {
    SettingsStore& settings = context.settings;
    if (automaticAllowed && settings.Dontask() && settings.PrePath().empty()) {
        ChooseRootAutomatically(context);
        return true;
    }
    for (;;) {
        if (RootExists(context, settings.PrePath())) {
            return true;
        }
        // Read again each pass: the question below may have switched it.
        if (automaticAllowed && settings.Dontask()) {
            ChooseRootAutomatically(context);
            return true;
        }
        if (!AskRoot(context, kInvalidRootText, true)) {
            return false;
        }
        // From here on the check box the user just confirmed decides, also for a root that
        // was given in advance.
        automaticAllowed = true;
    }
}

void ChooseRootAutomatically(DeviceContext& context) {
    std::string card;
    {
        const DeviceListing top(context.device, "\\*.*", kFolderListingFlags);
        for (std::uint32_t i = 0; i < top.Count(); ++i) {
            if ((top[i].dwFileAttributes & kCardAttributes) != kCardAttributes) {
                continue;
            }
            const std::string name = top.Name(i);
            card = "\\" + name;
            if (IsKnownCardName(name)) {
                break;  // the first known card wins; otherwise the last card listed
            }
        }
    }
    context.settings.SetPrePath(card + std::string(kAutomaticFolder));
}

bool IsKnownCardName(std::string_view name) {
    static constexpr std::array<std::string_view, 4> kKnown = {"Storage Card", "Storage Card2",
                                                               "SD Card", "SDMMC Disk"};
    return std::find(kKnown.begin(), kKnown.end(), name) != kKnown.end();
}

void OnSetDevicePath(DeviceContext& context) {
    if (ConnectDevice(context) != 0) {
        return;  // the user has seen the connection message already
    }
    // Not tested here: the next run tests whatever was chosen.
    AskRoot(context, kSetPathText, true);
    DisconnectDevice(context.device);
}

}  // namespace zephyrate
