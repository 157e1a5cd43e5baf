// The root folder on the device below which every file goes (the stored PrePath): asking
// the user for it, testing that it exists, and choosing it automatically (preferring a
// storage card) when automatic path selection (Dontask) is on.
//
// Threads: the worker thread of a run, with the device link open; OnSetDevicePath on the
// front end's thread while no run is going.
#pragma once

#include <string_view>

namespace zephyrate {

struct DeviceContext;

// The destination question with message (empty: the dialog's own text), unless force is
// off and automatic selection is on. OK stores the path unchanged and the check box; true
// when a root may be used, false when the user cancelled.
bool AskRoot(DeviceContext& context, std::string_view message, bool force);

// True once the stored root exists on the device (a file counts) or was chosen
// automatically; false when the user cancelled the question. automaticAllowed false makes
// this call act as if automatic selection were off (a root given on the command line).
bool SettleRoot(DeviceContext& context, bool automaticAllowed = true);

// Stores "\Zephyrate" below the first storage card with a known name, else below the last
// storage card listed, else at the top of the device. Creates nothing.
void ChooseRootAutomatically(DeviceContext& context);

// "Storage Card", "Storage Card2", "SD Card" or "SDMMC Disk", exactly.
bool IsKnownCardName(std::string_view name);

// The Set Device Path command: connect, ask with force, disconnect.
void OnSetDevicePath(DeviceContext& context);

}  // namespace zephyrate
