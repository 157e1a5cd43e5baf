// The values that a job sets at its start and that every per-file step reads: where the
// files come from on the server and where they go on the device, and the objects that
// the job placed or found current. One set per console, written by the job driver before
// its entries run; used on the worker thread only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace zephyrate {

struct JobValues {
    std::string ServerFolderAddress;          // the typed address before its last '/' or '\'
    std::string DeviceRoot;                   // empty or beginning with '\'
    std::string CeFolder;                     // the index's destination folder, trimmed
    std::string DataPath;                     // the device's data path, empty when it has none
    std::vector<std::string> PresentObjects;  // device paths written or found current
    // Device folders whose stale temporary files this job has removed, so that each
    // folder is looked through once per job however many files go there.
    std::unordered_set<std::string> SweptFolders;
    // The device's error code for the last file of the job that could not be written
    // (0 when none): the row only says "Error: writing file data to device", and a front
    // end may say why.
    std::uint32_t DeviceWriteError = 0;
};

}  // namespace zephyrate
