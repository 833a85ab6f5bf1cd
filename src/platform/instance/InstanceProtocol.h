// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// How a command line talks to the running Norik. We use a Unix domain socket rather than a D-Bus service:
// `norik trigger` has to answer at once and must not need Qt, nor a session bus, which plain X sessions
// and test servers often lack.
//
// The client connects to "instance.socket" in the instance folder, writes one request line ("trigger" or
// "settings", ending in "\n") and reads one reply line: "ok", or "error: " and the reason. Then both close.
namespace norik::platform {

enum class InstanceRequest {
    trigger,  // run "Review selection"
    settings, // open the settings window
};

inline constexpr std::string_view kInstanceSocketName = "instance.socket";
inline constexpr std::string_view kReplyOk = "ok";
inline constexpr std::string_view kReplyErrorPrefix = "error: ";
// Longer requests are refused without reading the rest.
inline constexpr std::size_t kMaxRequestLength = 64;

[[nodiscard]] constexpr std::string_view requestText(InstanceRequest request) {
    return request == InstanceRequest::trigger ? "trigger" : "settings";
}

[[nodiscard]] constexpr std::optional<InstanceRequest> requestFromText(std::string_view text) {
    for (const InstanceRequest request : {InstanceRequest::trigger, InstanceRequest::settings}) {
        if (text == requestText(request)) {
            return request;
        }
    }
    return std::nullopt;
}

} // namespace norik::platform
