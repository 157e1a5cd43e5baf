// One synchronisation run: open the device link, settle the root, apply the proxy, ask
// for the address, run that one job, close the link and sum up in the status line.
//
// Threads: the worker thread of a run (the terminal program's main thread). The console
// must outlive it. Running mode and the running flag are set and cleared here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zephyrate {

class Console;

// How a run ended, for front ends that report it (the terminal program's exit code).
enum class RunOutcome {
    NoDevice,  // "Failed to connect to the mobile device."
    NoRoot,    // the root question was cancelled
    Finished,  // "Finished"
    Errors,    // "There were error(s). Check details for more info."
};

struct RunOptions {
    // A root given in advance (the terminal program's --root): stored as PrePath as if
    // the root question had been answered OK with it, and then tested with automatic
    // selection off for this run.
    std::optional<std::string> root;
};

RunOutcome SyncRun(Console& console, const RunOptions& options = {});

// Asks for the address and runs its job; the job's code, or -1 when the question was
// cancelled.
int RunUrlJob(Console& console);

// The update log's name for a typed address: the text before its first '/', or without
// a '/' the text less its last character, then ".log" ("host/x" -> "host.log", "host" ->
// "hos.log", "" -> ".log").
std::string LogFileName(std::string_view url);

}  // namespace zephyrate
