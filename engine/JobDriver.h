// The job driver: one job from the provider's index to the last file. Shows the provider's
// details, fetches and checks the index, lists its files as rows, brings each over with the
// transfer step, writes every row's final text, and at the end of a complete job rewrites
// the update log and removes what the provider withdrew.
//
// Threads: the worker thread of a run, after the device link is open and the root is
// settled. The console and the job must outlive the call.
#pragma once

namespace zephyrate {

class Console;
struct SyncJob;

// Return codes.
inline constexpr int kJobDone = 0;        // ran to the end, or the index's header was wrong
inline constexpr int kJobFailed = 1;      // no index, an error ended it, or a skip request
inline constexpr int kJobCancelAll = -1;  // the user asked to cancel all jobs

int RunJob(Console& console, SyncJob& job);

}  // namespace zephyrate
