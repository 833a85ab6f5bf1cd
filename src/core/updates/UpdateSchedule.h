// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/AppInfo.h"

namespace norik::core {
class SettingsStore;
}

namespace norik::core::updates {

// Settings key of the last scheduled check, as whole seconds since the Unix epoch. Internal: not a
// user-facing setting.
inline constexpr std::string_view kLastCheckKey = "updateLastCheck";

inline constexpr std::chrono::hours kCheckInterval{24};

// The feed to check: the setting when it is set to a non-empty string, else `builtIn` (the address chosen
// when Norik was built). Empty means no feed is configured: the package manager updates this copy.
[[nodiscard]] std::string feedUrl(const SettingsStore& settings, std::string_view builtIn = kUpdateFeedUrl);

// Whether a scheduled check is due at `now`: when none was recorded, when kCheckInterval has passed since
// the last one, or when the last one lies in the future (the clock was set back; waiting for it to catch
// up could mean never checking again).
[[nodiscard]] bool isCheckDue(std::optional<std::chrono::system_clock::time_point> lastCheck,
                              std::chrono::system_clock::time_point now);

// The recorded time of the last scheduled check; absent when none was recorded or the value is not an
// integer.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> lastScheduledCheck(const SettingsStore& settings);
// Records `when`, to the second; the error says why the settings file could not be written.
[[nodiscard]] std::expected<void, std::string> recordScheduledCheck(SettingsStore& settings,
                                                                    std::chrono::system_clock::time_point when);

} // namespace norik::core::updates
