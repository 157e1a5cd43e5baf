#include "platform/DeviceFolderLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zephyrate {

namespace {

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value != nullptr) {
        return std::string(value);
    }
    if (std::string_view(name) == "HOME") {
        // No HOME (a service, a scrubbed environment): the account's home folder.
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            return std::string(found->pw_dir);
        }
    }
    return std::nullopt;
}

}  // namespace

DeviceFolderChoice DeviceFolderLocation::Choose(std::string_view commandLineChoice,
                                                std::string_view setting) {
    return Choose(commandLineChoice, setting, ProcessEnvironment);
}

DeviceFolderChoice DeviceFolderLocation::Choose(std::string_view commandLineChoice,
                                                std::string_view setting,
                                                const Environment& environment) {
    if (!commandLineChoice.empty()) {
        return {std::string(commandLineChoice), false};
    }
    if (std::optional<std::string> variable = environment("ZEPHYRATE_DEVICE");
        variable && !variable->empty()) {
        return {std::move(*variable), false};
    }
    if (!setting.empty()) {
        return {std::string(setting), false};
    }
    // A relative XDG_DATA_HOME is invalid by the base-directory rules and is ignored.
    std::optional<std::string> dataHome = environment("XDG_DATA_HOME");
    if (!dataHome || dataHome->empty() || dataHome->front() != '/') {
        std::optional<std::string> home = environment("HOME");
        dataHome = (home && !home->empty() ? *home : std::string(".")) + "/.local/share";
    }
    return {*dataHome + "/zephyrate/device", true};
}

}  // namespace zephyrate
