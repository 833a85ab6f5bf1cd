// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <string>

#include "platform/instance/FileDescriptor.h"

namespace norik::platform {

struct LockError {
    enum class Kind {
        held,   // another process (or another lock in this one) holds it
        failed, // the lock file could not be opened or locked
    };
    Kind kind = Kind::failed;
    std::string message;
};

// The exclusive flock on "instance.lock" in the instance folder. Whoever holds it is the one Norik of the
// user: of two processes that start at the same moment exactly one gets it, and the kernel releases it
// when its holder exits or crashes, so a lock is never stale. Released on destruction.
class InstanceLock {
public:
    // Waits only a few milliseconds, for a moment when isHeld() was testing the lock. `folder` is a prepared
    // instance folder (see InstanceFolder.h).
    [[nodiscard]] static std::expected<InstanceLock, LockError> acquire(const std::filesystem::path& folder);

    // Whether some process holds the lock now; false when there is no lock file yet.
    [[nodiscard]] static std::expected<bool, std::string> isHeld(const std::filesystem::path& folder);

    [[nodiscard]] const std::filesystem::path& folder() const { return m_folder; }

private:
    InstanceLock(std::filesystem::path folder, FileDescriptor file)
        : m_folder(std::move(folder)), m_file(std::move(file)) {}

    std::filesystem::path m_folder;
    FileDescriptor m_file;
};

} // namespace norik::platform
