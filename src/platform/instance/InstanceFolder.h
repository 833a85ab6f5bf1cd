// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <string>

// Where the running Norik keeps its lock and its socket.
namespace norik::platform {

// $XDG_RUNTIME_DIR/norik when XDG_RUNTIME_DIR is an absolute path to a folder of ours that we may write in,
// else /run/user/<uid>/norik when that runtime folder is ours, else /tmp/norik-<uid>; prepared as by
// prepareInstanceFolder.
[[nodiscard]] std::expected<std::filesystem::path, std::string> instanceFolder();

// Creates `folder` (0700) if it is missing, then checks that it is a real folder (not a symbolic link)
// owned by this user and closed to everyone else, since anyone who can write in it could plant a socket
// that answers in Norik's place. The error is a sentence that names the folder and what is wrong with it.
[[nodiscard]] std::expected<std::filesystem::path, std::string>
prepareInstanceFolder(const std::filesystem::path& folder);

} // namespace norik::platform
