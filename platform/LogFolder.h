// The folder that holds the update logs: a run writes its log by a bare file name, so a
// front end moves into this folder before its first run.
// Stateless apart from the process's working folder, which EnterLogFolder changes.
#pragma once

#include <optional>
#include <string>

namespace zephyrate {

// $XDG_STATE_HOME/zephyrate, else ~/.local/state/zephyrate; a relative XDG_STATE_HOME is
// invalid by the base-directory rules and is ignored. Nothing when HOME is unset too.
std::optional<std::string> DefaultLogFolder();

// Makes the folder and its missing parents (mode 0700: the logs list what is on the
// device) and moves into it, so that the update logs land there. An error text, or empty.
std::string EnterLogFolder(const std::string& folder);

}  // namespace zephyrate
