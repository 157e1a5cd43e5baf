#include "engine/RunWorker.h"

#include <utility>

#include "engine/SyncRun.h"
#include "run/Console.h"

namespace zephyrate {

bool RunWorker::Start(std::function<void(const RunResult&)> onEnd) {
    if (!console_.Control().TryClaimRunning()) {
        return false;
    }
    // The last run cleared the flag as its last step; its thread ends right after.
    Join();
    thread_ = std::thread([this, onEnd = std::move(onEnd)] {
        const RunResult result = SyncRun(console_);
        if (onEnd) {
            onEnd(result);
        }
    });
    return true;
}

void RunWorker::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace zephyrate
