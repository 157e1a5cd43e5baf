#include "cli/SyncOptions.h"

#include <array>

#ifndef ZEPHYRATE_VERSION
#define ZEPHYRATE_VERSION "unknown"
#endif

namespace zephyrate {

namespace {

constexpr std::string_view kUsage =
    "Usage: zephyrate-sync [OPTIONS] ADDRESS\n"
    "Brings the subscription whose index is at http://ADDRESS onto the device: one\n"
    "synchronisation run, as the window runs it. ADDRESS is given without \"http://\",\n"
    "for example news.example.org/zephyrate/index.txt.\n"
    "\n"
    "Options:\n"
    "  --device DIR          the folder that stands for the device (else $ZEPHYRATE_DEVICE,\n"
    "                        else the setting DeviceFolder, else\n"
    "                        ~/.local/share/zephyrate/device)\n"
    "  --settings FILE       the settings file (else $ZEPHYRATE_SETTINGS, else\n"
    "                        ~/.config/zephyrate/settings.reg)\n"
    "  --root PATH           the root folder on the device, stored as the root; it must exist\n"
    "  --force               bring every file over again (\"Force update to device\")\n"
    "  --user NAME           the user name for the first login the server asks for\n"
    "  --password-file FILE  its password: the first line of FILE\n"
    "  --log-dir DIR         the folder of the update logs (else $XDG_STATE_HOME/zephyrate,\n"
    "                        else ~/.local/state/zephyrate)\n"
    "  -q, --quiet           print only the job list and the final status\n"
    "  -h, --help            print this text and exit\n"
    "  -V, --version         print the version and exit\n"
    "\n"
    "On a terminal it asks what the run needs to know (a login, a root folder, whether to\n"
    "try the device again); otherwise the stored login is offered once and every other\n"
    "question is answered Cancel. Ctrl-C stops the run after the current piece of data;\n"
    "a second Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status:\n"
    "  0    the run finished without errors\n"
    "  1    the run ended with errors (see the job list)\n"
    "  2    usage error\n"
    "  3    no job ran: the device or its root folder was not available\n"
    "  130  interrupted\n";

enum class Takes { Nothing, Value };

struct OptionName {
    std::string_view longName;
    std::string_view shortName;
    Takes takes;
};

constexpr std::array<OptionName, 11> kOptions = {{
    {"--device", "", Takes::Value},
    {"--settings", "", Takes::Value},
    {"--root", "", Takes::Value},
    {"--force", "", Takes::Nothing},
    {"--user", "", Takes::Value},
    {"--password-file", "", Takes::Value},
    {"--log-dir", "", Takes::Value},
    {"--quiet", "-q", Takes::Nothing},
    {"--help", "-h", Takes::Nothing},
    {"--version", "-V", Takes::Nothing},
    {"--", "", Takes::Nothing},
}};

const OptionName* FindOption(std::string_view name) {
    for (const OptionName& option : kOptions) {
        if (name == option.longName || (!option.shortName.empty() && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

// Stores one option; an error text when its value is unusable.
std::string Apply(SyncOptions& options, std::string_view name, std::string_view value) {
    if (name == "--device" || name == "--settings" || name == "--log-dir" ||
        name == "--password-file") {
        if (value.empty()) {
            return "option " + std::string(name) + " needs a non-empty value";
        }
    }
    if (name == "--device") {
        options.device = value;
    } else if (name == "--settings") {
        options.settings = value;
    } else if (name == "--root") {
        options.root = std::string(value);
    } else if (name == "--force") {
        options.force = true;
    } else if (name == "--user") {
        options.user = std::string(value);
    } else if (name == "--password-file") {
        options.passwordFile = std::string(value);
    } else if (name == "--log-dir") {
        options.logDir = value;
    } else if (name == "--quiet") {
        options.quiet = true;
    } else if (name == "--help") {
        options.help = true;
    } else if (name == "--version") {
        options.version = true;
    }
    return "";
}

// "http://host", "https://host", "ftp://host": a scheme before anything else.
bool StartsWithScheme(std::string_view address) {
    const std::size_t colon = address.find("://");
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    for (const char c : address.substr(0, colon)) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !other) {
            return false;
        }
    }
    return true;
}

}  // namespace

SyncOptions::Parsed SyncOptions::Parse(const std::vector<std::string_view>& arguments) {
    Parsed parsed;
    SyncOptions& options = parsed.options;
    std::vector<std::string_view> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (optionsEnded || argument.empty() || argument.front() != '-' || argument == "-") {
            operands.push_back(argument);
            continue;
        }
        // --name=value as well as --name value.
        std::string_view name = argument;
        std::optional<std::string_view> value;
        if (const std::size_t equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const OptionName* option = FindOption(name);
        if (option == nullptr) {
            parsed.error = "unknown option " + std::string(name);
            return parsed;
        }
        const std::string_view longName = option->longName;
        if (longName == "--") {
            optionsEnded = true;
            continue;
        }
        if (option->takes == Takes::Nothing && value) {
            parsed.error = "option " + std::string(longName) + " takes no value";
            return parsed;
        }
        if (option->takes == Takes::Value && !value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = "option " + std::string(longName) + " needs a value";
                return parsed;
            }
            value = arguments[++i];
        }
        if (std::string error = Apply(options, longName, value.value_or("")); !error.empty()) {
            parsed.error = std::move(error);
            return parsed;
        }
    }
    if (options.help || options.version) {
        return parsed;
    }

    if (operands.empty() || operands.front().empty()) {
        parsed.error = "ADDRESS is missing";
    } else if (operands.size() > 1) {
        parsed.error =
            "only one ADDRESS may be given, not also \"" + std::string(operands[1]) + "\"";
    } else if (StartsWithScheme(operands.front())) {
        // The address gets "http://" in front of it; a second scheme could never work.
        parsed.error = "give ADDRESS without \"http://\", as in 127.0.0.1:8080/index.txt";
    } else {
        options.address = operands.front();
    }
    return parsed;
}

std::string_view SyncOptions::Usage() {
    return kUsage;
}

std::string SyncOptions::Version() {
    return "zephyrate-sync (Zephyrate) " ZEPHYRATE_VERSION "\n";
}

}  // namespace zephyrate
