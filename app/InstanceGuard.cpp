#include "app/InstanceGuard.h"

#include <thread>
#include <utility>

#include "platform/Processes.h"

namespace zephyrate {

InstanceGuard::InstanceGuard(std::string lockPath) : lockPath_(std::move(lockPath)) {}

bool InstanceGuard::Acquire() {
    block_ = SharedInstanceBlock::Open(lockPath_);
    if (!block_.Mapped()) {
        return false;  // no way to meet another copy: run alone
    }
    switch (lock_.TryTake(lockPath_)) {
        case InstanceLock::Take::HeldElsewhere:
            // The owner comes to the front itself when the hand-over reaches it.
            return true;
        case InstanceLock::Take::Unavailable:
            block_ = {};
            return false;
        case InstanceLock::Take::Taken:
            break;
    }
    block_.Store(Field::OwnerProcessId, OwnProcessId());
    // A token left by a copy that crashed names no window of this one.
    block_.Store(Field::ConsoleWindow, 0);
    return false;
}

bool InstanceGuard::Release() {
    block_.Store(Field::OwnerProcessId, 0);
    block_.Store(Field::ConsoleWindow, 0);
    block_.Store(Field::Heartbeat, 0);
    block_ = {};
    lock_.Close();
    return true;
}

void InstanceGuard::Beat() {
    block_.Increment(Field::Heartbeat);
}

void InstanceGuard::PublishWindow(std::uint32_t token) {
    block_.Store(Field::ConsoleWindow, token);
}

bool InstanceGuard::NotifyOwner() {
    const std::uint32_t heartbeat = block_.Load(Field::Heartbeat);
    if (block_.Load(Field::ConsoleWindow) == 0) {
        return false;
    }
    if (const std::optional<std::uint32_t> holder = lock_.Holder()) {
        (void)HandOverSignal::Send(*holder);  // one that cannot be signalled shows no heartbeat
    }
    std::this_thread::sleep_for(kHeartbeatWait);
    return block_.Load(Field::Heartbeat) != heartbeat;
}

bool InstanceGuard::TakeOver() {
    // Without a holder the owner has ended meanwhile, and the lock is free to take.
    if (const std::optional<std::uint32_t> holder = lock_.Holder();
        holder && !KillAndWait(*holder, kEndWait)) {
        return false;
    }
    Release();
    return !Acquire();
}

InstanceGuard::Start InstanceGuard::Claim() {
    if (!Acquire()) {
        return Start::Owner;
    }
    if (NotifyOwner()) {
        return Start::HandedOver;
    }
    return TakeOver() ? Start::Owner : Start::NoTakeOver;
}

}  // namespace zephyrate
