// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateSchedule.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/preferences/TestFiles.h"
#include "platform/fake/MemorySecretStore.h"

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
        {"checked a second ago", now - 1s, false},
        {"checked a second short of a day ago", now - 24h + 1s, false},
        {"checked exactly a day ago", now - 24h, true},
        {"checked a week ago", now - 7 * 24h, true},
        {"checked this very second", now, false},
        {"recorded an hour ahead: the clock was set back", now + 1h, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isCheckDue(row.last, now), row.due) << row.behaviour;
    }
}

class UpdateSettingsTest : public testing::Test {
protected:
    void store(std::string_view key, const SettingValue& value) { ASSERT_TRUE(m_settings.set(key, value)); }

    tests::TemporaryFolder m_folder;
    SettingsStore m_settings{m_folder.path() / "settings.json"};
};

TEST_F(UpdateSettingsTest, AFeedInTheSettingsReplacesTheBuiltInOne) {
    EXPECT_EQ(feedUrl(m_settings, "https://norik.dev/feed.json"), "https://norik.dev/feed.json");
    EXPECT_EQ(feedUrl(m_settings, ""), "");
    store(kUpdateFeedUrlKey, std::string("http://127.0.0.1:8080/feed.json"));
    EXPECT_EQ(feedUrl(m_settings, "https://norik.dev/feed.json"), "http://127.0.0.1:8080/feed.json");
    EXPECT_EQ(feedUrl(m_settings, ""), "http://127.0.0.1:8080/feed.json");
    store(kUpdateFeedUrlKey, std::string());
    EXPECT_EQ(feedUrl(m_settings, "https://norik.dev/feed.json"), "https://norik.dev/feed.json");
    store(kUpdateFeedUrlKey, std::int64_t{1});
    EXPECT_EQ(feedUrl(m_settings, ""), "");
}

TEST_F(UpdateSettingsTest, TheFeedIsAUserSettingAndTheLastCheckIsNot) {
    platform::MemorySecretStore secrets;
    Preferences preferences(m_settings, secrets);
    ASSERT_TRUE(preferences.setFromText(kUpdateFeedUrlKey, "https://mirror.example/norik.json"));
    EXPECT_EQ(feedUrl(m_settings, ""), "https://mirror.example/norik.json");
    EXPECT_FALSE(preferences.setFromText(kLastCheckKey, "0"));
}

TEST_F(UpdateSettingsTest, TheLastCheckSurvivesARestartToTheSecond) {
    EXPECT_EQ(lastScheduledCheck(m_settings), std::nullopt);
    const Clock::time_point when = Clock::time_point{1'780'000'123s} + 999ms;
    ASSERT_TRUE(recordScheduledCheck(m_settings, when));
    EXPECT_EQ(m_settings.integer(kLastCheckKey), 1'780'000'123);
    EXPECT_EQ(lastScheduledCheck(SettingsStore(m_settings.path())), Clock::time_point{1'780'000'123s});
}

TEST_F(UpdateSettingsTest, ARecordThatIsNoTimeReadsAsNone) {
    store(kLastCheckKey, std::string("yesterday"));
    EXPECT_EQ(lastScheduledCheck(m_settings), std::nullopt);
    store(kLastCheckKey, std::int64_t{INT64_MAX});
    EXPECT_EQ(lastScheduledCheck(m_settings), std::nullopt);
    store(kLastCheckKey, std::int64_t{INT64_MIN});
    EXPECT_EQ(lastScheduledCheck(m_settings), std::nullopt);
}

} // namespace
} // namespace norik::core::updates
