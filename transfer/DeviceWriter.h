// Copies a readable source (a response body or the text of a favorite) into one device
// file, in 4096-byte chunks with a progress report and stop check after each, and stamps
// the finished file with the entry's ServerTime. The file is written under a hidden
// temporary name in its folder and replaces the old copy only once complete and stamped:
// a write that breaks off (an error of the source, a stop, a full device) leaves the old
// copy as it was and no temporary file. Only where the device has no room for both
// copies, or no new file can be made in the folder, is the file written in place.
// Threads: the worker thread of a run. The source is read on the caller's thread; its
// errors (InternetError) pass through, with the device file closed.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ReadableFile.h"
#include "run/FileEntry.h"

namespace zephyrate {

struct TransferContext;

// True when the whole source is on the device at path with the server's time; the path
// is then appended to the job's PresentObjects. Sets entry.Result: 2 after a device
// failure (the job's DeviceWriteError keeps the device's error; ERROR_INVALID_NAME for an
// empty path),
// else the stop code of the last progress report (0, 1 or -1). total is shown in the
// progress display only; 0 means unknown.
bool WriteToDevice(TransferContext& context, FileEntry& entry, ReadableFile& source,
                   std::string_view path, std::uint32_t total);

}  // namespace zephyrate
