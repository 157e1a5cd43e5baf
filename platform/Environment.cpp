#include "platform/Environment.h"

#include <cstdlib>

namespace zephyrate {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::optional<std::string> BaseDirectory(const char* name) {
    std::string value = EnvironmentValue(name);
    if (value.empty() || value.front() != '/') {
        return std::nullopt;
    }
    return value;
}

}  // namespace zephyrate
