// zephyrate-sync: one synchronisation run from a terminal, a script or a scheduler, with
// the same engine as the window. See SyncOptions.cpp for the command line and the exit
// codes.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli/StopSignals.h"
#include "cli/SyncOptions.h"
#include "cli/TerminalPrompt.h"
#include "cli/TerminalSurface.h"
#include "engine/SyncRun.h"
#include "platform/DeviceFolderLocation.h"
#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "platform/LocalFiles.h"
#include "platform/LogFolder.h"
#include "platform/RegistryFile.h"
#include "run/Console.h"
#include "run/RunResult.h"
#include "settings/SettingsStore.h"

namespace {

using namespace zephyrate;

void Complain(const std::string& text) {
    std::fprintf(stderr, "zephyrate-sync: %s\n", text.c_str());
}

int UsageError(const std::string& text) {
    Complain(text);
    std::fputs(
        "Usage: zephyrate-sync [OPTIONS] ADDRESS\n"
        "Try 'zephyrate-sync --help' for the options.\n",
        stderr);
    return kExitUsage;
}

std::string Reason(int error) {
    return std::strerror(error);
}

// The first line of the file, without its line break; nothing when it cannot be read.
std::optional<std::string> ReadPassword(const std::string& file, std::string& problem) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = Reason(errno);
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (in.bad()) {
        problem = "read error";
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// The store reads an unusable file as the defaults and leaves it as it is without a word;
// a user who runs from a script should know that the run did not use what was configured.
void CheckSettingsFile(const std::string& path, TerminalSurface& surface) {
    std::string reason;
    switch (RegistryFile(path).Inspect(&reason)) {
        case RegistryFile::Condition::Missing:  // the usual first run
        case RegistryFile::Condition::Settings:
            return;
        case RegistryFile::Condition::Foreign:
            surface.Note("the settings file " + path +
                         " is damaged or not a settings file; it is left as it is and the "
                         "defaults are used");
            return;
        case RegistryFile::Condition::NotAFile:
            surface.Note("the settings file " + path + " is not a file; the defaults are used");
            return;
        case RegistryFile::Condition::Unreadable:
            surface.Note("cannot read the settings file " + path + " (" + reason +
                         "); the defaults are used");
            return;
    }
}

// Changes the settings file did not take held for this run only; the next run will not
// see them.
void ReportSettingsNotKept(const SettingsStore& settings, TerminalSurface& surface) {
    std::string values;
    for (const SettingsStore::NotKeptValue& value : settings.NotKept()) {
        values += (values.empty() ? "" : ", ") + value.name + " (" + value.reason + ")";
    }
    if (!values.empty()) {
        surface.Note("changes were not kept in the settings file " + settings.Path() +
                     " and held for this run only: " + values);
    }
}

// Why the device took no more files.
std::string DeviceWriteProblem(const DeviceWriteFailure& failure) {
    using Kind = DeviceWriteFailure::Kind;
    switch (failure.kind) {
        case Kind::Full:
            return "it is full";
        case Kind::AccessDenied:
            return "access denied (a read-only folder or file, or one of another user)";
        case Kind::InUse:
            return "a file is in use by another program";
        case Kind::Gone:
            return "the folder went away or could not be read or written";
        case Kind::NameTooLong:
            return "a name or path is too long for it";
        case Kind::NoFileName:
            return "an entry of the index names no file (an address ending in '/') or a name "
                   "that the device refuses";
        case Kind::None:
        case Kind::Other:
            break;
    }
    return "device error " + std::to_string(failure.code);
}

// Why the index could not be fetched, in the transport's words where it gave any.
std::string FetchProblem(const FetchFailure& failure, const std::string& address) {
    using Kind = FetchFailure::Kind;
    const std::string where = "http://" + address;
    switch (failure.kind) {
        case Kind::HttpStatus:
            return where + " answered HTTP Error " + std::to_string(failure.httpStatus);
        case Kind::Refused:
            return "could not fetch the index " + where + ": nothing answers there (" +
                   failure.detail + ")";
        case Kind::UnknownHost:
            return "could not fetch the index " + where + ": unknown server (" + failure.detail +
                   ")";
        default:
            return "could not fetch the index " + where +
                   (failure.detail.empty() ? std::string() : ": " + failure.detail);
    }
}

void ExplainOutcome(const RunResult& result, const std::string& deviceFolder,
                    TerminalSurface& surface, const std::string& address) {
    switch (result.outcome) {
        case RunOutcome::NoDevice:
            surface.Note("no device: " + deviceFolder +
                         " is missing, or is not a folder that this user may read and write");
            return;
        case RunOutcome::NoRoot:
            surface.Note("no root folder on the device " + deviceFolder +
                         " was settled; nothing was synchronised");
            return;
        case RunOutcome::Finished:
        case RunOutcome::Interrupted:
            return;
        case RunOutcome::Errors:
            break;
    }
    if (result.deviceWrite.kind != DeviceWriteFailure::Kind::None) {
        surface.Note("files could not be written to the device folder " + deviceFolder + ": " +
                     DeviceWriteProblem(result.deviceWrite));
    }
    // A refused login was reported when it was asked for.
    if (result.fetch.kind != FetchFailure::Kind::None && !surface.LoginDeclined()) {
        surface.Note(FetchProblem(result.fetch, address));
    }
}

int ExitCode(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Finished:
            return kExitFinished;
        case RunOutcome::Errors:
            return kExitErrors;
        case RunOutcome::NoDevice:
        case RunOutcome::NoRoot:
            return kExitNoRun;
        case RunOutcome::Interrupted:
            return kExitInterrupted;
    }
    return kExitErrors;
}

int Run(const SyncOptions& options) {
    // Before any other thread exists, so that every thread has the stop signals blocked.
    const bool interactive = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
    StopSignals signals(interactive ? STDIN_FILENO : -1);
    signal(SIGPIPE, SIG_IGN);  // a closed output must not end the run half way

    TerminalSurface::Setup setup;
    setup.address = options.address;
    setup.quiet = options.quiet;
    setup.force = options.force;
    setup.progressBar = isatty(STDOUT_FILENO);
    setup.user = options.user;
    if (options.passwordFile) {
        std::string problem;
        setup.password = ReadPassword(*options.passwordFile, problem);
        if (!setup.password) {
            return UsageError("cannot read the password file " + *options.passwordFile + ": " +
                              problem);
        }
    }

    TerminalPrompt prompt(STDIN_FILENO, STDERR_FILENO, signals.WakeDescriptor());
    TerminalSurface surface(std::move(setup), stdout, stderr, interactive ? &prompt : nullptr);

    // Said once, before the run: a file the run cannot use is not what the user configured.
    const std::string settingsPath =
        AbsoluteLocalPath(RegistryFile::DefaultLocation(options.settings));
    CheckSettingsFile(settingsPath, surface);
    SettingsStore settings(settingsPath);
    const DeviceFolderChoice device =
        DeviceFolderLocation::Choose(options.device, settings.DeviceFolder());
    const std::string deviceFolder = AbsoluteLocalPath(device.path);

    const std::optional<std::string> logFolder =
        options.logDir.empty() ? DefaultLogFolder() : std::optional(options.logDir);
    if (!logFolder) {
        Complain("no log folder: set HOME or XDG_STATE_HOME, or give --log-dir");
        return kExitErrors;
    }
    if (std::string problem = EnterLogFolder(*logFolder); !problem.empty()) {
        Complain(problem);
        return options.logDir.empty() ? kExitErrors : kExitUsage;
    }

    InternetSession session;
    FolderDevice folder(deviceFolder, device.createWhenMissing);
    Console console(surface, session, folder, settings);
    signals.Watch(console.Control());

    RunOptions runOptions;
    runOptions.root = options.root;
    const RunResult result = SyncRun(console, runOptions);
    surface.PrintJobList(console.Jobs().Rows());
    ReportSettingsNotKept(settings, surface);
    if (signals.Interrupted()) {
        return kExitInterrupted;  // also a stop that came while no step looked for one
    }
    ExplainOutcome(result, deviceFolder, surface, options.address);
    return ExitCode(result.outcome);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const SyncOptions::Parsed parsed = SyncOptions::Parse(arguments);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.options.help) {
        std::fwrite(SyncOptions::Usage().data(), 1, SyncOptions::Usage().size(), stdout);
        return kExitFinished;
    }
    if (parsed.options.version) {
        std::fputs(SyncOptions::Version().c_str(), stdout);
        return kExitFinished;
    }
    try {
        return Run(parsed.options);
    } catch (const std::exception& error) {
        Complain(error.what());
        return kExitErrors;
    }
}
