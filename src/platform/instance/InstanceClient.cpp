// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance/InstanceClient.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include <sys/socket.h>

#include "platform/instance/FileDescriptor.h"
#include "platform/instance/InstanceFolder.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/UnixSocket.h"

namespace norik::platform {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = RequestError::Kind;

constexpr std::size_t kMaxReplyLength = 512;
// How often a client that waits for a starting instance looks again.
constexpr std::chrono::milliseconds kRetryInterval{20};

std::unexpected<RequestError> error(Kind kind, std::string message) {
    return std::unexpected(RequestError{kind, std::move(message)});
}

std::string duration(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) {
        return std::to_string(time.count() / 1000) + " s";
    }
    return std::to_string(time.count()) + " ms";
}

std::unexpected<RequestError> lineError(const socket::LineError& failure, std::chrono::milliseconds timeout) {
    switch (failure.kind) {
    case socket::LineError::Kind::timedOut:
        return error(Kind::timedOut, "Norik did not answer within " + duration(timeout));
    case socket::LineError::Kind::closed:
        return error(Kind::failed, "Norik closed the connection without answering");
    case socket::LineError::Kind::tooLong:
        return error(Kind::failed, "Norik's answer is too long");
    case socket::LineError::Kind::failed:
        break;
    }
    return error(Kind::failed, "cannot talk to Norik: " + std::generic_category().message(failure.error));
}

} // namespace

std::expected<void, RequestError> sendRequest(const std::filesystem::path& folder, std::string_view request,
                                              std::chrono::milliseconds timeout) {
    const socket::Deadline deadline = Clock::now() + timeout;
    const std::filesystem::path path = folder / kInstanceSocketName;
    const auto address = socket::address(path);
    if (!address) {
        return error(Kind::failed, "the socket path " + path.string() + " is too long");
    }
    const FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!connection.valid()) {
        return error(Kind::failed, "cannot create a socket: " + std::generic_category().message(errno));
    }
    // A Unix socket connects at once or fails at once, even when non-blocking; nothing to wait for here.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes a generic address
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        const int failure = errno;
        if (failure == ENOENT || failure == ECONNREFUSED || failure == ENOTDIR) {
            return error(Kind::noInstance, "Norik is not running");
        }
        if (failure == EAGAIN) {
            return error(Kind::timedOut, "Norik is too busy to take the request");
        }
        return error(Kind::failed,
                     "cannot connect to " + path.string() + ": " + std::generic_category().message(failure));
    }
    std::string line(request);
    line += '\n';
    if (const auto written = socket::writeAll(connection.get(), line, deadline); !written) {
        return lineError(written.error(), timeout);
    }
    const auto reply = socket::readLine(connection.get(), deadline, kMaxReplyLength);
    if (!reply) {
        return lineError(reply.error(), timeout);
    }
    if (*reply == kReplyOk) {
        return {};
    }
    if (reply->starts_with(kReplyErrorPrefix)) {
        return error(Kind::failed, "Norik refused the request: " + reply->substr(kReplyErrorPrefix.size()));
    }
    return error(Kind::failed, "Norik answered something unexpected");
}

std::expected<void, RequestError> sendToRunningInstance(const std::filesystem::path& folder, InstanceRequest request,
                                                        std::chrono::milliseconds patience,
                                                        std::string_view startupId) {
    const std::string line = requestLine({request, std::string(startupId)});
    const Clock::time_point deadline = Clock::now() + patience;
    while (true) {
        const auto left = std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                                   std::chrono::milliseconds{1});
        auto sent = sendRequest(folder, line, left);
        if (sent || sent.error().kind != Kind::noInstance) {
            if (!sent && sent.error().kind == Kind::timedOut) {
                sent.error().message = "Norik is running but did not answer within " + duration(patience);
            }
            return sent;
        }
        // Nobody listens. That is final unless the lock is held: then its holder is about to listen.
        const auto held = InstanceLock::isHeld(folder);
        if (!held) {
            return error(Kind::failed, held.error());
        }
        if (!*held) {
            return sent;
        }
        if (Clock::now() >= deadline) {
            return error(Kind::timedOut, "Norik is starting but did not answer within " + duration(patience));
        }
        std::this_thread::sleep_for(std::min(kRetryInterval, left));
    }
}

std::expected<bool, std::string> handOverToRunningInstance(std::string_view startupId) {
    const auto folder = instanceFolder();
    if (!folder) {
        return std::unexpected(folder.error());
    }
    const auto sent = sendToRunningInstance(*folder, InstanceRequest::settings, kStartingPatience, startupId);
    if (sent) {
        return true;
    }
    if (sent.error().kind == Kind::noInstance) {
        return false;
    }
    return std::unexpected("another Norik is running, but it did not open its settings: " + sent.error().message);
}

} // namespace norik::platform
