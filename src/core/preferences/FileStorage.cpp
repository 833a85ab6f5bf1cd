// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/FileStorage.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norik::core::storage {

namespace {

std::string failure(std::string_view action, const std::filesystem::path& path, int error) {
    return "could not " + std::string(action) + " " + path.string() + ": " + std::generic_category().message(error);
}

bool writeAll(int descriptor, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(descriptor, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y%m%dT%H%M%SZ", &parts);
    return {text.data(), length};
}

} // namespace

std::expected<void, std::string> ensureDirectory(const std::filesystem::path& directory,
                                                 std::optional<std::filesystem::perms> exact) {
    if (directory.empty()) {
        return {};
    }
    std::error_code error;
    if (directory.has_parent_path()) {
        std::filesystem::create_directories(directory.parent_path(), error);
        if (error) {
            return std::unexpected(failure("create the folder", directory.parent_path(), error.value()));
        }
    }
    // Created with its final permissions, so a private folder is never briefly readable by others.
    const auto mode = static_cast<mode_t>(exact.value_or(std::filesystem::perms::all));
    if (::mkdir(directory.c_str(), mode) != 0 && errno != EEXIST) {
        return std::unexpected(failure("create the folder", directory, errno));
    }
    if (exact && ::chmod(directory.c_str(), mode) != 0) {
        return std::unexpected(failure("set the permissions of", directory, errno));
    }
    return {};
}

std::expected<std::optional<std::string>, std::string> readFile(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            return std::optional<std::string>();
        }
        return std::unexpected(failure("open", file, errno));
    }
    std::string contents;
    std::array<char, 16384> chunk{};
    for (;;) {
        const ssize_t count = ::read(descriptor, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(descriptor);
            return std::unexpected(failure("read", file, error));
        }
        if (count == 0) {
            break;
        }
        contents.append(chunk.data(), static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    return std::optional<std::string>(std::move(contents));
}

std::expected<void, std::string> replaceFile(const std::filesystem::path& file, std::string_view contents,
                                             std::filesystem::perms permissions) {
    std::string temporary = file.string() + ".tmp-XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return std::unexpected(failure("create a temporary file next to", file, errno));
    }
    const auto abandon = [&](std::string_view action, const std::filesystem::path& path, int error, bool open) {
        if (open) {
            ::close(descriptor);
        }
        ::unlink(temporary.c_str());
        return std::unexpected(failure(action, path, error));
    };
    if (::fchmod(descriptor, static_cast<mode_t>(permissions)) != 0) {
        return abandon("set the permissions of", temporary, errno, true);
    }
    if (!writeAll(descriptor, contents)) {
        return abandon("write", temporary, errno, true);
    }
    if (::fsync(descriptor) != 0) {
        return abandon("flush", temporary, errno, true);
    }
    if (::close(descriptor) != 0) {
        return abandon("close", temporary, errno, false);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        return abandon("replace", file, errno, false);
    }
    // The rename itself is durable only once the folder entry is on disk.
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor < 0) {
        return std::unexpected(failure("open the folder", folder, errno));
    }
    const bool synced = ::fsync(folderDescriptor) == 0;
    const int error = errno;
    ::close(folderDescriptor);
    if (!synced) {
        return std::unexpected(failure("flush the folder", folder, error));
    }
    return {};
}

std::expected<std::filesystem::path, std::string> moveAside(const std::filesystem::path& file) {
    const std::string base = file.string() + ".corrupt-" + utcTimestamp();
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return std::filesystem::path(target);
        }
        if (errno == EEXIST) {
            continue;
        }
        // Some file systems lack RENAME_NOREPLACE; checking first leaves only a negligible race.
        if (errno == EINVAL) {
            std::error_code error;
            if (std::filesystem::exists(target, error)) {
                continue;
            }
            if (::rename(file.c_str(), target.c_str()) == 0) {
                return std::filesystem::path(target);
            }
        }
        return std::unexpected(failure("move aside", file, errno));
    }
    return std::unexpected(failure("move aside", file, EEXIST));
}

std::expected<FileLock, std::string> FileLock::acquire(const std::filesystem::path& lockFile) {
    const int descriptor = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return std::unexpected(failure("open the lock file", lockFile, errno));
    }
    while (::flock(descriptor, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(descriptor);
            return std::unexpected(failure("lock", lockFile, error));
        }
    }
    return FileLock(descriptor);
}

FileLock::FileLock(FileLock&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    if (m_descriptor >= 0) {
        ::close(m_descriptor); // closing the last descriptor releases the flock
    }
}

} // namespace norik::core::storage
