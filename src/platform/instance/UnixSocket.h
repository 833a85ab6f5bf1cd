// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/un.h>

// Line-based exchanges on non-blocking stream sockets, shared by the instance server and its client.
namespace norik::platform::socket {

using Deadline = std::chrono::steady_clock::time_point;

// None when the path does not fit in sun_path.
[[nodiscard]] std::optional<sockaddr_un> address(const std::filesystem::path& path);

struct LineError {
    enum class Kind { timedOut, closed, tooLong, failed };
    Kind kind = Kind::failed;
    int error = 0; // errno when failed
};

// One line without its "\n" from a non-blocking socket, waiting until `deadline`.
[[nodiscard]] std::expected<std::string, LineError> readLine(int descriptor, Deadline deadline, std::size_t maxLength);

// Writes all of `text` to a non-blocking socket before `deadline`; never raises SIGPIPE.
[[nodiscard]] std::expected<void, LineError> writeAll(int descriptor, std::string_view text, Deadline deadline);

// Waits until `descriptor` has one of `events` (as for poll) or the deadline passes; false on time-out.
[[nodiscard]] std::expected<bool, int> waitFor(int descriptor, short events, Deadline deadline);

} // namespace norik::platform::socket
