// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateSchedule.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/TestFiles.h"

namespace norik::core::updates {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

TEST(IsCheckDueTest, OnceADayAndWhenTheRecordCannotBeTrusted) {
    const Clock::time_point now = Clock::time_point{1'780'000'000s};
    const struct {
        const char* behaviour;
        std::optional<Clock::time_point> last;
        bool due;
    } rows[] = {
        {"never checked", std::nullopt, true},
        {"checked a second short of a day ago", now - 24h + 1s, false},
        {"checked exactly a day ago", now - 24h, true},
        {"recorded an hour ahead: the clock was set back", now + 1h, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isCheckDue(row.last, now), row.due) << row.behaviour;
    }
}

TEST(UpdateSettingsTest, AFeedSetByTheUserReplacesTheBuiltInOneAndTheLastCheckSurvivesARestart) {
    const tests::TemporaryFolder folder;
    SettingsStore settings{folder.path() / "settings.json"};
    platform::MemorySecretStore secrets;
    Preferences preferences(settings, secrets);
    ASSERT_TRUE(preferences.setFromText(kUpdateFeedUrlKey, "https://mirror.example/norik.json"));
    EXPECT_EQ(feedUrl(settings, "https://norik.dev/feed.json"), "https://mirror.example/norik.json");
    ASSERT_TRUE(settings.set(kUpdateFeedUrlKey, std::string()));
    EXPECT_EQ(feedUrl(settings, "https://norik.dev/feed.json"), "https://norik.dev/feed.json");
    EXPECT_FALSE(preferences.setFromText(kLastCheckKey, "0")) << "the schedule's record is no user setting";

    EXPECT_EQ(lastScheduledCheck(settings), std::nullopt);
    ASSERT_TRUE(recordScheduledCheck(settings, Clock::time_point{1'780'000'123s} + 999ms));
    EXPECT_EQ(lastScheduledCheck(SettingsStore(settings.path())), Clock::time_point{1'780'000'123s});
    for (const SettingValue& damaged :
         {SettingValue(std::string("yesterday")), SettingValue(std::int64_t{INT64_MAX})}) {
        ASSERT_TRUE(settings.set(kLastCheckKey, damaged));
        EXPECT_EQ(lastScheduledCheck(settings), std::nullopt);
    }
}

} // namespace
} // namespace norik::core::updates
