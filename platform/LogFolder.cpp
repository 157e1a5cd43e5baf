#include "platform/LogFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/LocalFiles.h"

namespace zephyrate {

namespace {

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace

std::optional<std::string> DefaultLogFolder() {
    if (std::optional<std::string> state = Environment("XDG_STATE_HOME");
        state && state->front() == '/') {
        return *state + "/zephyrate";
    }
    if (std::optional<std::string> home = Environment("HOME")) {
        return *home + "/.local/state/zephyrate";
    }
    return std::nullopt;
}

std::string EnterLogFolder(const std::string& folder) {
    if (!MakeLocalFolders(folder)) {
        return "cannot create the log folder " + folder + ": " + std::strerror(errno);
    }
    if (chdir(folder.c_str()) != 0) {
        return "cannot use the log folder " + folder + ": " + std::strerror(errno);
    }
    if (access(".", W_OK) != 0) {
        return "cannot write to the log folder " + folder + ": " + std::strerror(errno);
    }
    return "";
}

}  // namespace zephyrate
