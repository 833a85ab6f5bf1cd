// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// File primitives shared by the settings file and the unencrypted secrets file: small documents that
// several processes read and rewrite. Errors are readable sentences naming the path, never the contents.
namespace norik::core::storage {

// Creates the folder and its parents; when `exact` is given the folder itself gets exactly those permissions.
[[nodiscard]] std::expected<void, std::string>
ensureDirectory(const std::filesystem::path& directory, std::optional<std::filesystem::perms> exact = std::nullopt);

// The whole file; absent when it does not exist.
[[nodiscard]] std::expected<std::optional<std::string>, std::string> readFile(const std::filesystem::path& file);

// Replaces `file` so that a reader sees the old or the new contents, never a mix, and the new contents
// survive a crash once this returns: temporary file in the same folder, fsync, rename, fsync of the folder.
[[nodiscard]] std::expected<void, std::string> replaceFile(const std::filesystem::path& file, std::string_view contents,
                                                           std::filesystem::perms permissions);

// Renames `file` to "<name>.corrupt-<UTC time>" without ever replacing an existing file; returns the new path.
[[nodiscard]] std::expected<std::filesystem::path, std::string> moveAside(const std::filesystem::path& file);

// An exclusive flock on a dedicated lock file, held until destruction. flock belongs to the open file
// description, so two locks taken in one process exclude each other like locks of two processes.
// The lock file is never deleted: removing it would let two processes lock two different inodes.
class FileLock {
public:
    [[nodiscard]] static std::expected<FileLock, std::string> acquire(const std::filesystem::path& lockFile);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int descriptor) : m_descriptor(descriptor) {}

    int m_descriptor = -1;
};

} // namespace norik::core::storage
