// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateCheck.h"

#include <cstdint>
#include <future>
#include <optional>
#include <stop_token>
#include <string>

#include <gtest/gtest.h>

#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/updates/UpdateSchedule.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"

namespace norik::core::updates {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using Order = std::optional<std::strong_ordering>;

TEST(UpdateCheckTest, VersionsCompareTheSameBothWays) {
    const std::tuple<const char*, const char*, const char*, Order> rows[] = {
        {"components are numbers, not text", "1.10", "1.9", std::strong_ordering::greater},
        {"a higher major beats longer minors", "2", "1.99.99", std::strong_ordering::greater},
        {"an extra non-zero component is newer", "1.2.0.1", "1.2", std::strong_ordering::greater},
        {"components beyond 64 bits do not overflow", "1.18446744073709551616", "1.18446744073709551615",
         std::strong_ordering::greater},
        {"missing components are zero", "1", "1.0.0.0", std::strong_ordering::equal},
        {"leading zeros are ignored", "01.002", "1.2", std::strong_ordering::equal},
        {"a suffix is malformed", "1.2-beta", "1.0", std::nullopt},
        {"a leading v is malformed", "v1.2", "1.0", std::nullopt},
        {"an empty component is malformed", "1..2", "1.0", std::nullopt},
        {"a sign is malformed", "-1", "1.0", std::nullopt},
    };
    for (const auto& [behaviour, a, b, order] : rows) {
        EXPECT_EQ(compareVersions(a, b), order) << behaviour;
        EXPECT_EQ(compareVersions(b, a), order ? Order(0 <=> *order) : std::nullopt) << behaviour;
    }
}

std::string feedWith(const std::string& version, const std::string& page, const std::string& more = "") {
    return R"({"version": )" + version + R"(, "url": ")" + page + "\"" + more + "}";
}

TEST(UpdateCheckTest, OnlyAWellFormedFeedWithASafePageDecodes) {
    const std::tuple<const char*, std::string, bool> rows[] = {
        {"not JSON", "<html>Moved</html>", false},
        {"a numeric version", feedWith("1.2", "https://norik.dev/"), false},
        {"no page", R"({"version": "1.2"})", false},
        {"notes that are no string", feedWith("\"1.2\"", "https://norik.dev/", R"(, "notes": ["a"])"), false},
        {"a malformed version", feedWith("\"1.3-beta\"", "https://norik.dev/"), false},
        {"a javascript page", feedWith("\"9.0\"", "javascript:alert(1)"), false},
        {"a page without a host", feedWith("\"9.0\"", "https://"), false},
        {"a plain http page", feedWith("\"9.0\"", "http://norik.dev/download"), false},
        {"a plain http page naming loopback as its user", feedWith("\"9.0\"", "http://127.0.0.1@norik.dev/"), false},
        {"plain http on this machine", feedWith("\"9.0\"", "http://[::1]:9/dl"), true},
        {"null notes and unknown members", feedWith("\"1.2\"", "https://norik.dev/", R"(, "notes": null, "x": 1)"),
         true},
    };
    for (const auto& [behaviour, body, decodes] : rows) {
        EXPECT_EQ(decodeFeed(body).has_value(), decodes) << behaviour;
    }
}

TEST(CheckForUpdateTest, OffersOnlyANewerVersionWithItsNotesCutAndNoAnswerSaysWhy) {
    test::LoopbackServer server;
    const std::string feed = server.baseUrl() + "/feed.json";
    const std::string notes(3 * kMaxNotesCharacters, 'n');
    server.respond("GET", "/feed.json", 200,
                   feedWith("\"0.10.0\"", "https://norik.dev/r", R"(, "notes": ")" + notes + "\""));
    EXPECT_EQ(checkForUpdate(feed, "0.9.3"),
              CheckOutcome(Release{"0.10.0", "https://norik.dev/r", notes.substr(0, kMaxNotesCharacters)}));
    EXPECT_EQ(checkForUpdate(feed, "0.10"), CheckOutcome(UpToDate{}));
    EXPECT_EQ(checkForUpdate(feed, "0.11"), CheckOutcome(UpToDate{}));

    server.respond("GET", "/error.json", 503, feedWith("\"9.0\"", "https://norik.dev/"));
    server.respond("GET", "/broken.json", 200, R"({"version": "9.0", "url": )");
    const std::pair<std::string, std::string> rows[] = {{server.baseUrl() + "/error.json", "0.1"},
                                                        {server.baseUrl() + "/broken.json", "0.1"},
                                                        {"http://norik.dev/feed.json", "0.1"},
                                                        {feed, "dev-build"}};
    for (const auto& [url, installed] : rows) {
        const CheckOutcome outcome = checkForUpdate(url, installed);
        EXPECT_TRUE(std::holds_alternative<Unreachable>(outcome) && !std::get<Unreachable>(outcome).reason.empty())
            << url << " " << installed;
    }
    EXPECT_EQ(server.requests().size(), 5U) << "an untrusted feed or an unreadable installed version asks nothing";

    // A stop request ends a check the server never answers.
    server.neverAnswer("GET", "/silent.json");
    std::stop_source stop;
    auto silent = std::async(
        std::launch::async, [&] { return checkForUpdate(server.baseUrl() + "/silent.json", "0.1", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(6));
    stop.request_stop();
    EXPECT_TRUE(std::holds_alternative<Unreachable>(silent.get()));
}

TEST(UpdateScheduleTest, ACheckIsDueOnceADayAndWhenTheRecordCannotBeTrusted) {
    const Clock::time_point now = Clock::time_point{1'780'000'000s};
    const std::tuple<const char*, std::optional<Clock::time_point>, bool> rows[] = {
        {"never checked", std::nullopt, true},
        {"checked a second short of a day ago", now - 24h + 1s, false},
        {"checked exactly a day ago", now - 24h, true},
        {"recorded an hour ahead: the clock was set back", now + 1h, true},
    };
    for (const auto& [behaviour, last, due] : rows) {
        EXPECT_EQ(isCheckDue(last, now), due) << behaviour;
    }
}

TEST(UpdateScheduleTest, AFeedSetByTheUserReplacesTheBuiltInOneAndTheLastCheckSurvivesARestart) {
    const tests::TemporaryFolder folder;
    SettingsStore settings{folder.path() / "settings.json"};
    platform::MemorySecretStore secrets;
    Preferences preferences(settings, secrets);
    ASSERT_TRUE(preferences.setFromText(kUpdateFeedUrlKey, "https://mirror.example/norik.json"));
    EXPECT_EQ(feedUrl(settings, "https://norik.dev/feed.json"), "https://mirror.example/norik.json");
    ASSERT_TRUE(settings.set(kUpdateFeedUrlKey, std::string()));
    EXPECT_EQ(feedUrl(settings, "https://norik.dev/feed.json"), "https://norik.dev/feed.json");
    EXPECT_FALSE(preferences.setFromText(kLastCheckKey, "0")) << "the schedule's record is no user setting";

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
