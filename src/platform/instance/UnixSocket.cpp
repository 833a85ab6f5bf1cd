// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance/UnixSocket.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>

namespace norik::platform::socket {

std::optional<sockaddr_un> address(const std::filesystem::path& path) {
    sockaddr_un result{};
    result.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof(result.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(static_cast<char*>(result.sun_path), text.c_str(), text.size() + 1);
    return result;
}

std::expected<bool, int> waitFor(int descriptor, short events, Deadline deadline) {
    pollfd entry{descriptor, events, 0};
    while (true) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return std::unexpected(errno);
        }
    }
}

std::expected<std::string, LineError> readLine(int descriptor, Deadline deadline, std::size_t maxLength) {
    std::string line;
    std::array<char, 128> buffer{};
    while (true) {
        const ssize_t count = ::recv(descriptor, buffer.data(), buffer.size(), 0);
        if (count > 0) {
            line.append(buffer.data(), static_cast<std::size_t>(count));
            if (const auto end = line.find('\n'); end != std::string::npos) {
                line.resize(end);
                if (line.size() > maxLength) {
                    return std::unexpected(LineError{LineError::Kind::tooLong});
                }
                return line;
            }
            if (line.size() > maxLength) {
                return std::unexpected(LineError{LineError::Kind::tooLong});
            }
            continue;
        }
        if (count == 0) {
            return std::unexpected(LineError{LineError::Kind::closed});
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return std::unexpected(LineError{LineError::Kind::failed, errno});
        }
        const auto readable = waitFor(descriptor, POLLIN, deadline);
        if (!readable) {
            return std::unexpected(LineError{LineError::Kind::failed, readable.error()});
        }
        if (!*readable) {
            return std::unexpected(LineError{LineError::Kind::timedOut});
        }
    }
}

std::expected<void, LineError> writeAll(int descriptor, std::string_view text, Deadline deadline) {
    while (!text.empty()) {
        const ssize_t count = ::send(descriptor, text.data(), text.size(), MSG_NOSIGNAL);
        if (count >= 0) {
            text.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EPIPE || errno == ECONNRESET) {
            return std::unexpected(LineError{LineError::Kind::closed});
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return std::unexpected(LineError{LineError::Kind::failed, errno});
        }
        const auto writable = waitFor(descriptor, POLLOUT, deadline);
        if (!writable) {
            return std::unexpected(LineError{LineError::Kind::failed, writable.error()});
        }
        if (!*writable) {
            return std::unexpected(LineError{LineError::Kind::timedOut});
        }
    }
    return {};
}

} // namespace norik::platform::socket
