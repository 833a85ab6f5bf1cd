// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateSchedule.h"

#include <cstdint>
#include <utility>

#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"

namespace norik::core::updates {

std::string feedUrl(const SettingsStore& settings, std::string_view builtIn) {
    std::optional<std::string> configured = settings.string(kUpdateFeedUrlKey);
    if (configured && !configured->empty()) {
        return std::move(*configured);
    }
    return std::string(builtIn);
}

bool isCheckDue(std::optional<std::chrono::system_clock::time_point> lastCheck,
                std::chrono::system_clock::time_point now) {
    return !lastCheck || *lastCheck > now || now - *lastCheck >= kCheckInterval;
}

std::optional<std::chrono::system_clock::time_point> lastScheduledCheck(const SettingsStore& settings) {
    const std::optional<std::int64_t> seconds = settings.integer(kLastCheckKey);
    // A value the clock cannot represent (hand-edited, or from another program) reads as no record.
    constexpr auto kLimit =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::duration::max());
    if (!seconds || *seconds > kLimit.count() || *seconds < -kLimit.count()) {
        return std::nullopt;
    }
    return std::chrono::system_clock::time_point{std::chrono::seconds{*seconds}};
}

std::expected<void, std::string> recordScheduledCheck(SettingsStore& settings,
                                                      std::chrono::system_clock::time_point when) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch());
    return settings.set(kLastCheckKey, std::int64_t{seconds.count()});
}

} // namespace norik::core::updates
