// What bringing one listed file onto the device works with, and nothing more: the device,
// the job's values, the job list (for the entry's row) and the progress display. The
// engine makes one from its console for each step.
//
// Threads: the worker thread of a run; the referenced objects outlive the step.
#pragma once

namespace zephyrate {

class DeviceRemote;
class JobList;
class ProgressSink;
struct JobValues;

struct TransferContext {
    DeviceRemote& device;
    JobValues& job;
    JobList& rows;
    ProgressSink& progress;
};

}  // namespace zephyrate
