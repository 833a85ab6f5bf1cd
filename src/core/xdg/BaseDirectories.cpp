// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/xdg/BaseDirectories.h"

#include <array>
#include <cstdlib>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norik::core::xdg {

namespace {

std::filesystem::path fromEnvironment(const char* variable, const std::filesystem::path& fallback) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing sets the environment while Norik runs
    if (const char* value = std::getenv(variable); value != nullptr && std::filesystem::path(value).is_absolute()) {
        return value;
    }
    return home() / fallback;
}

bool usableRuntimeDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return path.is_absolute() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0 &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

} // namespace

std::filesystem::path home() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing sets the environment while Norik runs
    if (const char* value = std::getenv("HOME"); value != nullptr && *value != '\0') {
        return value;
    }
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path configHome() {
    return fromEnvironment("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path dataHome() {
    return fromEnvironment("XDG_DATA_HOME", std::filesystem::path(".local") / "share");
}

std::optional<std::filesystem::path> runtimeDirectory() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing sets the environment while Norik runs
    if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value != nullptr && usableRuntimeDirectory(value)) {
        return value;
    }
    if (std::filesystem::path session = "/run/user/" + std::to_string(::geteuid()); usableRuntimeDirectory(session)) {
        return session;
    }
    return std::nullopt;
}

} // namespace norik::core::xdg
