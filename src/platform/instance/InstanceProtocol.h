// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How a command line talks to the running Norik. We use a Unix domain socket rather than a D-Bus service:
// `norik trigger` has to answer at once and must not need Qt, nor a session bus, which plain X sessions
// and test servers often lack.
//
// The client connects to "instance.socket" in the instance folder, writes one request line ("trigger" or
// "settings", ending in "\n") and reads one reply line: "ok", or "error: " and the reason. Then both close.
// A client started by a launcher adds a space and its startup id ("settings launcher-42_TIME1234"), so that
// the window Norik shows for it completes that launch and is not held back as stealing the focus.
namespace norik::platform {

enum class InstanceRequest {
    trigger,  // run "Review selection"
    settings, // open the settings window
};

struct InstanceMessage {
    InstanceRequest request = InstanceRequest::trigger;
    // Empty when the client was not started by a launcher.
    std::string startupId;

    friend bool operator==(const InstanceMessage&, const InstanceMessage&) = default;
};

inline constexpr std::string_view kInstanceSocketName = "instance.socket";
inline constexpr std::string_view kReplyOk = "ok";
inline constexpr std::string_view kReplyErrorPrefix = "error: ";
// Longer requests are refused without reading the rest.
inline constexpr std::size_t kMaxRequestLength = 256;
inline constexpr std::size_t kMaxStartupIdLength = 200;

[[nodiscard]] constexpr std::string_view requestText(InstanceRequest request) {
    return request == InstanceRequest::trigger ? "trigger" : "settings";
}

// Printable ASCII without spaces, as launchers make them; anything else is not passed on.
[[nodiscard]] constexpr bool isStartupId(std::string_view id) {
    return !id.empty() && id.size() <= kMaxStartupIdLength &&
           std::ranges::all_of(id, [](char c) { return c > ' ' && c < '\x7f'; });
}

// The line for `message`; a startup id that isn't one is left out.
[[nodiscard]] inline std::string requestLine(const InstanceMessage& message) {
    std::string line(requestText(message.request));
    if (isStartupId(message.startupId)) {
        line += ' ';
        line += message.startupId;
    }
    return line;
}

[[nodiscard]] inline std::optional<InstanceMessage> messageFromLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    const std::string_view name = line.substr(0, space);
    const std::string_view id = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (space != std::string_view::npos && !isStartupId(id)) {
        return std::nullopt;
    }
    for (const InstanceRequest request : {InstanceRequest::trigger, InstanceRequest::settings}) {
        if (name == requestText(request)) {
            return InstanceMessage{request, std::string(id)};
        }
    }
    return std::nullopt;
}

} // namespace norik::platform
