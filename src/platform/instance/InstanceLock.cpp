// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance/InstanceLock.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>

namespace norik::platform {

namespace {

constexpr const char* kLockName = "instance.lock";
constexpr int kHeldAttempts = 5;
constexpr std::chrono::milliseconds kHeldRetryInterval{4};

std::string failure(std::string_view action, const std::filesystem::path& path) {
    return "cannot " + std::string(action) + " " + path.string() + ": " + std::generic_category().message(errno);
}

// Retries flock while a signal interrupts it.
int lockWithoutWaiting(int descriptor) {
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

std::expected<InstanceLock, LockError> InstanceLock::acquire(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / kLockName;
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR));
    if (!file.valid()) {
        return std::unexpected(LockError{LockError::Kind::failed, failure("open", path)});
    }
    // isHeld() takes the lock for a moment to test it. Meeting such a test is no proof that a Norik runs, so
    // a few more tries are made before giving up; a real holder keeps the lock far longer.
    for (int attempt = 0; lockWithoutWaiting(file.get()) != 0; ++attempt) {
        if (errno != EWOULDBLOCK) {
            return std::unexpected(LockError{LockError::Kind::failed, failure("lock", path)});
        }
        if (attempt == kHeldAttempts) {
            return std::unexpected(LockError{LockError::Kind::held, "another Norik is running"});
        }
        std::this_thread::sleep_for(kHeldRetryInterval);
    }
    return InstanceLock(folder, std::move(file));
}

std::expected<bool, std::string> InstanceLock::isHeld(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / kLockName;
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.valid()) {
        if (errno == ENOENT) {
            return false;
        }
        return std::unexpected(failure("open", path));
    }
    if (lockWithoutWaiting(file.get()) != 0) {
        if (errno == EWOULDBLOCK) {
            return true;
        }
        return std::unexpected(failure("lock", path));
    }
    // Closing the file releases the lock taken just to test it.
    return false;
}

} // namespace norik::platform
