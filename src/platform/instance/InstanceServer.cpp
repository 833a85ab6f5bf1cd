// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance/InstanceServer.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <sys/socket.h>
#include <unistd.h>

#include "platform/instance/UnixSocket.h"

namespace norik::platform {

namespace {

constexpr int kBacklog = 8;
// Clients answered per call of serve(), so a stream of them cannot keep the event loop from other work;
// the socket stays readable and the loop comes back for the rest.
constexpr int kClientsPerServe = 16;

std::string failure(std::string_view action, const std::filesystem::path& path, int error) {
    return "cannot " + std::string(action) + " " + path.string() + ": " + std::generic_category().message(error);
}

bool sameUser(int client) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    return ::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// The reply to one client, and its request when it is a valid one.
std::optional<InstanceMessage> answer(int client, std::chrono::milliseconds timeout) {
    const socket::Deadline deadline = std::chrono::steady_clock::now() + timeout;
    std::string reply;
    std::optional<InstanceMessage> request;
    if (!sameUser(client)) {
        reply = std::string(kReplyErrorPrefix) + "this Norik belongs to another user";
    } else if (const auto line = socket::readLine(client, deadline, kMaxRequestLength); !line) {
        if (line.error().kind != socket::LineError::Kind::tooLong) {
            return std::nullopt;
        }
        reply = std::string(kReplyErrorPrefix) + "request too long";
    } else if (request = messageFromLine(*line); request) {
        reply = kReplyOk;
    } else {
        reply = std::string(kReplyErrorPrefix) + "unknown request; send \"trigger\" or \"settings\"";
    }
    reply += '\n';
    // The request counts even if the client has gone before reading the reply.
    static_cast<void>(socket::writeAll(client, reply, deadline));
    return request;
}

} // namespace

std::expected<InstanceServer, std::string> InstanceServer::listen(const InstanceLock& lock) {
    std::filesystem::path path = lock.folder() / kInstanceSocketName;
    const auto address = socket::address(path);
    if (!address) {
        return std::unexpected("the socket path " + path.string() + " is too long");
    }
    FileDescriptor listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listening.valid()) {
        return std::unexpected(failure("create a socket for", path, errno));
    }
    // Only the lock holder gets here, so a socket file already there was left by an instance that died.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return std::unexpected(failure("remove the old socket", path, errno));
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes a generic address
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        return std::unexpected(failure("listen on", path, errno));
    }
    if (::listen(listening.get(), kBacklog) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        return std::unexpected(failure("listen on", path, error));
    }
    return InstanceServer(std::move(listening), std::move(path));
}

InstanceServer::~InstanceServer() {
    if (m_socket.valid()) {
        ::unlink(m_path.c_str());
    }
}

std::vector<InstanceMessage> InstanceServer::serve(std::chrono::milliseconds clientTimeout) {
    std::vector<InstanceMessage> requests;
    for (int accepted = 0; accepted < kClientsPerServe; ++accepted) {
        const FileDescriptor client(::accept4(m_socket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client.valid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            // EAGAIN: no one else is waiting. Anything else (out of descriptors) is left for the next call.
            return requests;
        }
        if (const auto request = answer(client.get(), clientTimeout)) {
            requests.push_back(*std::move(request));
        }
    }
    return requests;
}

} // namespace norik::platform
