// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/instance/FileDescriptor.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/InstanceProtocol.h"

namespace norik::platform {

// The listening end of the instance socket, for the process that holds the instance lock. The socket is
// non-blocking: watch descriptor() for reading in an event loop and call serve() when it is readable.
// Runs on one thread at a time.
class InstanceServer {
public:
    // How long serve() waits for the request line of one client before it drops that client.
    static constexpr std::chrono::milliseconds kClientTimeout{250};

    // Listens on "instance.socket" in the lock's folder. Holding the lock is what makes it safe to
    // replace a socket file left by an instance that crashed. Fails with a sentence naming the socket.
    [[nodiscard]] static std::expected<InstanceServer, std::string> listen(const InstanceLock& lock);

    InstanceServer(InstanceServer&&) noexcept = default;
    InstanceServer& operator=(InstanceServer&&) = delete;
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;
    // Stops listening and removes the socket file.
    ~InstanceServer();

    [[nodiscard]] int descriptor() const { return m_socket.get(); }

    // Accepts every connection waiting now and answers each: "ok" for a valid request, which is returned
    // in order of arrival, an error line for anything else or for a client of another user. A client that
    // sends no full line within `clientTimeout` is dropped, so this never blocks for longer than that per
    // client. Returns nothing when no one is waiting.
    [[nodiscard]] std::vector<InstanceMessage> serve(std::chrono::milliseconds clientTimeout = kClientTimeout);

private:
    InstanceServer(FileDescriptor socket, std::filesystem::path path)
        : m_socket(std::move(socket)), m_path(std::move(path)) {}

    FileDescriptor m_socket;
    std::filesystem::path m_path;
};

} // namespace norik::platform
