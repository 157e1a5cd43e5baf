// One synchronisation run: open the device link, settle the root, apply the proxy, ask
// for the address, run that one job, close the link and sum up in the status line.
//
// Threads: the worker thread of a run (the terminal program's main thread). The console
// must outlive it. Running mode and the running flag are set and cleared here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run/RunResult.h"

namespace zephyrate {

class Console;
struct DeviceContext;

struct RunOptions {
    // A root given in advance (the terminal program's --root): stored as PrePath as if
    // the root question had been answered OK with it, and then tested with automatic
    // selection off for this run.
    std::optional<std::string> root;
};

// How the run ended, with the typed reasons of a failed fetch and a failed device write.
RunResult SyncRun(Console& console, const RunOptions& options = {});

// The device side of a console: its device, settings, surface and stop check.
DeviceContext DeviceContextOf(Console& console);

// The typed reason of a device error code met while writing a file.
DeviceWriteFailure DeviceWriteFailureOf(std::uint32_t code);

// Asks for the address and runs its job; the job's code, or -1 when the question was
// cancelled.
int RunUrlJob(Console& console);

// The update log's name for a typed address: the text before its first '/', or without
// a '/' the text less its last character, then ".log" ("host/x" -> "host.log", "host" ->
// "hos.log", "" -> ".log").
std::string LogFileName(std::string_view url);

}  // namespace zephyrate
