// zephyrate-bench-sync-log DEVICE_DIR LOG_FILE PRESENT_LIST
// Runs SyncLog::Update once on the device folder DEVICE_DIR with the update log LOG_FILE
// and, as this run's objects, the device paths of PRESENT_LIST (one a line). Prints the
// time that Update took; exits 1 when it failed. bench/sync-log times it against grep.
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "engine/SyncLog.h"
#include "platform/FolderDevice.h"
#include "transfer/ServerTime.h"

int main(int argc, char** argv) {
    using namespace zephyrate;
    if (argc != 4) {
        std::cerr << "usage: zephyrate-bench-sync-log DEVICE_DIR LOG_FILE PRESENT_LIST\n";
        return 2;
    }
    std::vector<std::string> present;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);) {
        present.push_back(line);
    }

    FolderDevice device(argv[1], false);
    RAPIINIT init;
    if (device.CeRapiInitEx(init) < 0 || device.WaitForRapiInit(init, 5000) != WAIT_OBJECT_0 ||
        init.hrRapiInit < 0) {
        std::cerr << "zephyrate-bench-sync-log: device folder " << argv[1] << " is not usable\n";
        return 1;
    }
    try {
        const auto start = std::chrono::steady_clock::now();
        SyncLog(argv[2]).Update(device, present, {}, CurrentUtcSeconds());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "present " << present.size() << " seconds " << seconds << "\n";
    } catch (const SyncLogError& error) {
        std::cerr << "zephyrate-bench-sync-log: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
