// The transfer step of one listed file: open its response, decide by time stamp and
// length whether the device copy is current, and when it is not (or force is set) write
// the file and then its favorite and shortcut. Progress shows in the entry's job row.
// Threads: the worker thread of a run. Errors of the response body while the file is
// written (InternetError) pass to the caller, with the device file and response closed.
#pragma once

#include "run/FileEntry.h"

namespace zephyrate {

struct TransferContext;
class InternetSession;

// Outcome codes of the step.
inline constexpr int kTransferWritten = 0;
inline constexpr int kTransferFailed = 2;
inline constexpr int kTransferCurrent = 3;
inline constexpr int kTransferSkipJob = 1;
inline constexpr int kTransferCancelAll = -1;

// Returns one of the outcome codes; all but kTransferCurrent are also left in
// entry.Result (which stays 0 for a current copy). StatusText describes a failure.
int FileTransferStep(TransferContext& context, FileEntry& entry, InternetSession& session,
                     bool force);

}  // namespace zephyrate
