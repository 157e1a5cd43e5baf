// zephyrate-bench-transfer DEVICE_DIR SERVER_FOLDER_ADDRESS LIST_FILE
// Brings every name of LIST_FILE (one a line) from http://SERVER_FOLDER_ADDRESS/ onto the
// device folder DEVICE_DIR through FileTransferStep: one process, one console, one
// session, a surface that draws nothing. Prints the outcome counts and the time the
// steps took; exits 1 when any entry failed. bench/transfer times it against curl.
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "run/FileEntry.h"
#include "run/NullSurface.h"
#include "settings/SettingsStore.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace {

using namespace zephyrate;

bool Connect(DeviceRemote& device) {
    RAPIINIT init;
    return device.CeRapiInitEx(init) >= 0 && device.WaitForRapiInit(init, 5000) == WAIT_OBJECT_0 &&
           init.hrRapiInit >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: zephyrate-bench-transfer DEVICE_DIR SERVER_FOLDER_ADDRESS LIST_FILE\n";
        return 2;
    }
    std::vector<std::string> names;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);) {
        if (!line.empty()) {
            names.push_back(line);
        }
    }
    if (names.empty()) {
        std::cerr << "zephyrate-bench-transfer: no names in " << argv[3] << "\n";
        return 2;
    }

    FolderDevice device(argv[1], false);
    if (!Connect(device)) {
        std::cerr << "zephyrate-bench-transfer: device folder " << argv[1] << " is not usable\n";
        return 1;
    }
    InternetSession session;
    session.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
    NullSurface surface;
    SettingsStore settings(std::string(argv[1]) + "/../bench-settings.reg");
    Console console(surface, session, device, settings);
    console.Job().ServerFolderAddress = argv[2];
    TransferContext context{device, console.Job(), console.Jobs(), console};

    std::size_t written = 0;
    std::size_t current = 0;
    std::size_t failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& name : names) {
        FileEntry entry;
        entry.SetFile(name);
        try {
            const int outcome = FileTransferStep(context, entry, session, false);
            if (outcome == kTransferWritten) {
                ++written;
            } else if (outcome == kTransferCurrent) {
                ++current;
            } else {
                ++failed;
                std::cerr << name << ": " << entry.StatusText << "\n";
            }
        } catch (const InternetError& error) {
            ++failed;
            std::cerr << name << ": " << error.what() << "\n";
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "written " << written << " current " << current << " failed " << failed
              << " seconds " << seconds << "\n";
    return failed == 0 ? 0 : 1;
}
