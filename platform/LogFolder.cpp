#include "platform/LogFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Environment.h"
#include "platform/LocalFiles.h"

namespace zephyrate {

std::optional<std::string> DefaultLogFolder() {
    if (std::optional<std::string> state = BaseDirectory("XDG_STATE_HOME")) {
        return *state + "/zephyrate";
    }
    if (std::string home = EnvironmentValue("HOME"); !home.empty()) {
        return home + "/.local/state/zephyrate";
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
