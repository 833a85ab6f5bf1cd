// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>

// The folders of the XDG base directory rules, looked up in one place. Every function reads the
// environment when called, so a test or a child process that changes it is followed. Safe on any thread
// as long as nothing sets the environment meanwhile.
namespace norik::core::xdg {

// $HOME, else the home folder of this user in the password database, else "/".
[[nodiscard]] std::filesystem::path home();
// $XDG_CONFIG_HOME, else ~/.config. A relative value is ignored, as the rules demand.
[[nodiscard]] std::filesystem::path configHome();
// $XDG_DATA_HOME, else ~/.local/share. A relative value is ignored.
[[nodiscard]] std::filesystem::path dataHome();
// $XDG_RUNTIME_DIR when it is an absolute path to a private folder (0700) of this user, as the rules demand, else
// /run/user/<uid> when that is such a folder (a process started without the session's environment, from
// ssh or cron, still finds the session's runtime folder there); absent otherwise.
[[nodiscard]] std::optional<std::filesystem::path> runtimeDirectory();

} // namespace norik::core::xdg
