// Opening the HTTP response of one listed file, and reading the time stamp and length of
// its copy on the device, for the decision whether the copy is current.
// Threads: the worker thread of a run; the session and device are called synchronously.
#pragma once

#include <memory>
#include <string_view>

#include "platform/HttpFile.h"
#include "run/FileEntry.h"
#include "run/JobValues.h"

namespace zephyrate {

class DeviceRemote;
class InternetSession;

// Opens Url (absolute entries) or "http://" + ServerFolderAddress + "/" + Name and sets
// HttpStatus. Returns the response, owned by the caller, or null after a failure, which
// it describes in StatusText (the internet layer's text, or "HTTP ERROR CODE: n").
// Never throws InternetError.
std::unique_ptr<HttpFile> OpenEntryUrl(FileEntry& entry, InternetSession& session,
                                       const JobValues& job);

// Sets DeviceTime (last write, in seconds) and DeviceLength (low 32 bits) from the device
// file at path; false, with the entry unchanged, when the file cannot be opened or its
// time read.
bool ReadDeviceFileStamp(DeviceRemote& device, FileEntry& entry, std::string_view path);

}  // namespace zephyrate
