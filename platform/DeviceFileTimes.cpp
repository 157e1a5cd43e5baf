#include "platform/DeviceFileTimes.h"

#include <cstdint>
#include <limits>

namespace zephyrate {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

FILETIME FromTicks(std::uint64_t ticks) {
    return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}

}  // namespace

FILETIME FileTimeFromTimespec(const timespec& time) {
    const std::int64_t seconds = time.tv_sec;
    if (seconds < -kSecondsFrom1601To1970) {
        return FromTicks(0);
    }
    const auto since1601 = static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970);
    constexpr std::uint64_t kMaxSeconds =
        std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(kTicksPerSecond) - 1;
    if (since1601 > kMaxSeconds) {
        return FromTicks(std::numeric_limits<std::uint64_t>::max());
    }
    return FromTicks(since1601 * kTicksPerSecond + static_cast<std::uint64_t>(time.tv_nsec) / 100);
}

timespec TimespecFromFileTime(const FILETIME& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    timespec result{};
    result.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                                        kSecondsFrom1601To1970);
    result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
    return result;
}

}  // namespace zephyrate
