// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/instance/InstanceProtocol.h"

namespace norik::platform {

struct RequestError {
    enum class Kind {
        noInstance, // no socket, or no one listens on it: Norik is not running
        timedOut,   // connected, but no reply in time
        failed,     // anything else: the reason is in the message
    };
    Kind kind = Kind::failed;
    std::string message; // a sentence without the final full stop
};

// Sends one request line (normally requestLine() of an InstanceMessage) to the instance that listens in
// `folder` and waits for its reply until `timeout`: never longer, whatever the other end does. Blocks the
// calling thread; any thread.
[[nodiscard]] std::expected<void, RequestError>
sendRequest(const std::filesystem::path& folder, std::string_view request, std::chrono::milliseconds timeout);

// How long a second Norik waits for one that has the lock but is still starting.
inline constexpr std::chrono::milliseconds kStartingPatience{2000};

// sendRequest for a caller that must not lose the request to a start-up race: while the instance lock is
// held but nothing answers yet, because its holder has not started listening, tries again until `patience`
// runs out. noInstance only when no one holds the lock. `startupId` is the launch this request completes.
[[nodiscard]] std::expected<void, RequestError>
sendToRunningInstance(const std::filesystem::path& folder, InstanceRequest request,
                      std::chrono::milliseconds patience = kStartingPatience, std::string_view startupId = {});

// What another start of the tray app does: asks the running Norik of the user (or one still starting) to
// open its settings. True when it was asked, false when no Norik runs; otherwise why it could not be asked,
// as a sentence without the final full stop.
[[nodiscard]] std::expected<bool, std::string> handOverToRunningInstance(std::string_view startupId);

} // namespace norik::platform
