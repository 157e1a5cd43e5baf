#include "platform/DeviceFileTimes.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

namespace zephyrate {

namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;
using Ticks = std::chrono::duration<std::uint64_t, std::ratio<1, 10'000'000>>;

// The start of file time, as seconds from 1970, and the last whole second below 2^63 units.
constexpr seconds kFirst =
    std::chrono::sys_days{std::chrono::year{1601} / 1 / 1}.time_since_epoch();
constexpr seconds kLast =
    duration_cast<seconds>(Ticks{std::numeric_limits<std::int64_t>::max()}) + kFirst;

}  // namespace

FILETIME FileTimeFromTimespec(const timespec& time) {
    const seconds wanted{time.tv_sec};
    const seconds taken = std::clamp(wanted, kFirst, kLast);
    Ticks ticks = duration_cast<Ticks>(taken - kFirst);
    if (taken == wanted) {
        ticks += duration_cast<Ticks>(std::chrono::nanoseconds{time.tv_nsec});
    }
    return {static_cast<std::uint32_t>(ticks.count()),
            static_cast<std::uint32_t>(ticks.count() >> 32)};
}

timespec TimespecFromFileTime(const FILETIME& time) {
    const Ticks ticks{(std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime};
    const auto whole = duration_cast<seconds>(ticks);
    timespec result{};
    result.tv_sec = static_cast<std::time_t>((kFirst + whole).count());
    result.tv_nsec =
        static_cast<long>(duration_cast<std::chrono::nanoseconds>(ticks - whole).count());
    return result;
}

}  // namespace zephyrate
