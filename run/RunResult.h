// How a synchronisation run ended, with a typed reason for the two failures that a front
// end explains in its own words: a job's index that could not be fetched and a file that
// the device would not take. The status texts on the surface stay as they are; these
// values only spare front ends from reading them back.
#pragma once

#include <cstdint>
#include <string>

namespace zephyrate {

enum class RunOutcome {
    Finished,     // "Finished"
    Errors,       // "There were error(s). Check details for more info."
    NoDevice,     // "Failed to connect to the mobile device."
    NoRoot,       // the root question was cancelled
    Interrupted,  // the user stopped the run (Cancel all)
};

// Why a job's index could not be fetched.
struct FetchFailure {
    enum class Kind {
        None,         // the index arrived whole
        Refused,      // nothing listens at the address (or the proxy)
        UnknownHost,  // the name of the server (or the proxy) does not resolve
        Timeout,      // no answer in time
        HttpStatus,   // the server answered with an error status
        Incomplete,   // the answer broke off, or contradicts its announced length
        TooLarge,     // more than the index may hold
        Other,        // any other transport failure
    };
    Kind kind = Kind::None;
    std::uint32_t httpStatus = 0;  // Kind::HttpStatus
    std::string detail;            // the transport's own words, empty when it gave none
};

// Why the last file of a job that failed could not be written to the device.
struct DeviceWriteFailure {
    enum class Kind {
        None,
        Full,          // no room left
        AccessDenied,  // a read-only file or folder, or one of another user
        InUse,         // held by another program
        Gone,          // the device folder went away, or could not be read or written
        NameTooLong,   // a name or path longer than the device takes
        NoFileName,    // the entry names no file, or a name the device refuses
        Other,
    };
    Kind kind = Kind::None;
    std::uint32_t code = 0;  // the device's error code
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Finished;
    FetchFailure fetch;              // set when the job's index could not be fetched
    DeviceWriteFailure deviceWrite;  // set when a file could not be written
};

}  // namespace zephyrate
