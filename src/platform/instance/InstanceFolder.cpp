// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance/InstanceFolder.h"

#include <array>
#include <cerrno>
#include <string>
#include <system_error>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "core/xdg/BaseDirectories.h"

namespace norik::platform {

std::expected<std::filesystem::path, std::string> instanceFolder() {
    if (const auto runtime = core::xdg::runtimeDirectory()) {
        return prepareInstanceFolder(*runtime / "norik");
    }
    return prepareInstanceFolder(std::filesystem::path("/tmp") / ("norik-" + std::to_string(::geteuid())));
}

std::expected<std::filesystem::path, std::string> prepareInstanceFolder(const std::filesystem::path& folder) {
    const std::string name = folder.string();
    if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return std::unexpected("cannot create the folder " + name + ": " + std::generic_category().message(errno));
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        return std::unexpected("cannot read the folder " + name + ": " + std::generic_category().message(errno));
    }
    if (!S_ISDIR(status.st_mode)) {
        return std::unexpected(name + " is not a folder; remove it so that Norik can create it");
    }
    if (status.st_uid != ::geteuid()) {
        return std::unexpected("the folder " + name + " belongs to another user; remove it");
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        std::array<char, 8> mode{};
        std::snprintf(mode.data(), mode.size(), "%04o", status.st_mode & 07777U);
        return std::unexpected("the folder " + name + " is open to other users (mode " + mode.data() +
                               "); remove it or make it private with `chmod 700 " + name + "`");
    }
    return folder;
}

} // namespace norik::platform
