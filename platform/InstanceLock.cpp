#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/Environment.h"

namespace zephyrate {

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// "major:minor:inode" as /proc/locks writes it: the device numbers in hexadecimal.
bool SameFile(std::string_view text, const struct stat& file) {
    const std::size_t first = text.find(':');
    const std::size_t second = text.find(':', first + 1);
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    return first != std::string_view::npos && second != std::string_view::npos &&
           ParseNumber(text.substr(0, first), major, 16) &&
           ParseNumber(text.substr(first + 1, second - first - 1), minor, 16) &&
           ParseNumber(text.substr(second + 1), inode, 10) && major == major(file.st_dev) &&
           minor == minor(file.st_dev) && inode == file.st_ino;
}

}  // namespace

std::string InstanceLock::DefaultPath() {
    if (std::optional<std::string> runtime = BaseDirectory("XDG_RUNTIME_DIR")) {
        return *runtime + "/ZephyrateLock";
    }
    return "/tmp/ZephyrateLock-" + std::to_string(getuid());
}

InstanceLock::Take InstanceLock::TryTake(const std::string& path) {
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    fd_.Reset();  // before the open, whose errno tells what to try next
    fd_.Reset(open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0600));
    if (!fd_.Valid() && errno == EACCES) {
        // Someone else's file, readable to us: a lock on it still keeps two copies apart.
        fd_.Reset(open(path.c_str(), O_RDONLY | kFlags));
    }
    if (!fd_.Valid()) {
        return Take::Unavailable;
    }
    while (flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return Take::HeldElsewhere;
        }
        if (errno != EINTR) {
            fd_.Reset();
            return Take::Unavailable;
        }
    }
    return Take::Taken;
}

std::optional<std::uint32_t> InstanceLock::Holder() const {
    struct stat file {};
    if (!fd_.Valid() || fstat(fd_.Get(), &file) != 0) {
        return std::nullopt;
    }
    // Lines like "3: FLOCK  ADVISORY  WRITE 4711 00:1f:1234 0 EOF"; a process waiting for
    // a lock has "->" after the number and holds nothing.
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, process, where;
        if (!(fields >> number >> kind >> mode >> access >> process >> where) || kind != "FLOCK") {
            continue;
        }
        std::uint32_t id = 0;
        if (ParseNumber(std::string_view(process), id, 10) && id != 0 && SameFile(where, file)) {
            return id;
        }
    }
    return std::nullopt;
}

}  // namespace zephyrate
