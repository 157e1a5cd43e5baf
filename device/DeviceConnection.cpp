#include "device/DeviceConnection.h"

#include "device/DeviceContext.h"
#include "platform/DeviceRemote.h"
#include "run/ConsoleSurface.h"

namespace zephyrate {

namespace {

constexpr const char* kNoConnectionText =
    "Couldn't establish a connection to the device. Check Activesync connection";

// One bounded attempt; a failed one is abandoned so that the next starts from scratch.
bool TryConnect(DeviceRemote& device, std::uint32_t waitMs) {
    RAPIINIT init{};  // fresh per attempt (size 12, no event, no result): the link fills it in
    if (device.CeRapiInitEx(init) >= 0 && device.WaitForRapiInit(init, waitMs) == WAIT_OBJECT_0 &&
        init.hrRapiInit >= 0) {
        return true;
    }
    device.CeRapiUninit();
    return false;
}

}  // namespace

int ConnectDevice(DeviceContext& context, std::uint32_t waitMs) {
    for (;;) {
        if (TryConnect(context.device, waitMs)) {
            return 0;
        }
        // A user who already asked to stop has answered the question we would ask.
        if (context.stopCheck() != 0) {
            return -1;
        }
        const ConsoleSurface::Answer answer = context.surface.MessageBox(
            kNoConnectionText, "Error", ConsoleSurface::Buttons::RetryCancel);
        if (answer != ConsoleSurface::Answer::Retry) {
            context.surface.SetRunningMode(false);
            return -1;
        }
    }
}

int DisconnectDevice(DeviceRemote& device) {
    device.CeRapiUninit();  // fails harmlessly when no link is open
    return 0;
}

}  // namespace zephyrate
