// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateCheck.h"

#include <future>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/LoopbackServer.h"

namespace norik::core::updates {
namespace {

using Order = std::optional<std::strong_ordering>;

struct OrderCase {
    const char* name;
    const char* a;
    const char* b;
    Order order;
};

class VersionOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrderTest, ComparesTheSameBothWays) {
    const OrderCase& row = GetParam();
    EXPECT_EQ(compareVersions(row.a, row.b), row.order);
    const Order reversed = row.order ? Order(0 <=> *row.order) : std::nullopt;
    EXPECT_EQ(compareVersions(row.b, row.a), reversed);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionOrderTest,
    testing::Values(OrderCase{"ComponentsAreNumbersNotText", "1.10", "1.9", std::strong_ordering::greater},
                    OrderCase{"AHigherMajorBeatsLongerMinors", "2", "1.99.99", std::strong_ordering::greater},
                    OrderCase{"AnExtraNonZeroComponentIsNewer", "1.2.0.1", "1.2", std::strong_ordering::greater},
                    OrderCase{"ComponentsBeyond64BitsDoNotOverflow", "1.18446744073709551616", "1.18446744073709551615",
                              std::strong_ordering::greater},
                    OrderCase{"MissingComponentsAreZero", "1", "1.0.0.0", std::strong_ordering::equal},
                    OrderCase{"LeadingZerosAreIgnored", "01.002", "1.2", std::strong_ordering::equal},
                    OrderCase{"ASuffixIsMalformed", "1.2-beta", "1.0", std::nullopt},
                    OrderCase{"ALeadingVIsMalformed", "v1.2", "1.0", std::nullopt},
                    OrderCase{"AnEmptyComponentIsMalformed", "1..2", "1.0", std::nullopt},
                    OrderCase{"ASignIsMalformed", "-1", "1.0", std::nullopt}),
    [](const testing::TestParamInfo<OrderCase>& row) { return std::string(row.param.name); });

struct FeedCase {
    const char* name;
    std::string body;
    bool decodes;
};

class FeedTest : public testing::TestWithParam<FeedCase> {};

TEST_P(FeedTest, DecodesOnlyAWellFormedFeedWithASafePage) {
    const auto decoded = decodeFeed(GetParam().body);
    EXPECT_EQ(decoded.has_value(), GetParam().decodes) << (decoded ? decoded->version : decoded.error());
    EXPECT_TRUE(decoded || !decoded.error().empty());
}

std::string feedWith(const std::string& version, const std::string& page, const std::string& more = "") {
    return R"({"version": )" + version + R"(, "url": ")" + page + "\"" + more + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, FeedTest,
    testing::Values(
        FeedCase{"NotJson", "<html>Moved</html>", false},
        FeedCase{"NotAnObject", R"(["1.2", "https://norik.dev/"])", false},
        FeedCase{"NumericVersion", feedWith("1.2", "https://norik.dev/"), false},
        FeedCase{"NoUrl", R"({"version": "1.2"})", false},
        FeedCase{"NotesNotAString", feedWith("\"1.2\"", "https://norik.dev/", R"(, "notes": ["a"])"), false},
        FeedCase{"MalformedVersion", feedWith("\"1.3-beta\"", "https://norik.dev/"), false},
        FeedCase{"JavascriptPage", feedWith("\"9.0\"", "javascript:alert(1)"), false},
        FeedCase{"PageWithoutHost", feedWith("\"9.0\"", "https://"), false},
        FeedCase{"PlainHttpPage", feedWith("\"9.0\"", "http://norik.dev/download"), false},
        FeedCase{"PlainHttpPageNamingLoopbackAsItsUser", feedWith("\"9.0\"", "http://127.0.0.1@norik.dev/"), false},
        FeedCase{"PlainHttpOnThisMachine", feedWith("\"9.0\"", "http://[::1]:9/dl"), true},
        FeedCase{"NullNotesAndUnknownMembers",
                 feedWith("\"1.2\"", "https://norik.dev/", R"(, "notes": null, "sha256": "ab")"), true}),
    [](const testing::TestParamInfo<FeedCase>& row) { return std::string(row.param.name); });

class CheckForUpdateTest : public testing::Test {
protected:
    [[nodiscard]] std::string feed() const { return server.baseUrl() + "/feed.json"; }

    test::LoopbackServer server;
};

TEST_F(CheckForUpdateTest, OffersOnlyANewerVersionWithItsNotesCut) {
    const std::string notes(3 * kMaxNotesCharacters, 'n');
    server.respond("GET", "/feed.json", 200,
                   feedWith("\"0.10.0\"", "https://norik.dev/r", R"(, "notes": ")" + notes + "\""));
    EXPECT_EQ(checkForUpdate(feed(), "0.9.3"),
              CheckOutcome(Release{"0.10.0", "https://norik.dev/r", notes.substr(0, kMaxNotesCharacters)}));
    EXPECT_EQ(checkForUpdate(feed(), "0.10"), CheckOutcome(UpToDate{}));
    EXPECT_EQ(checkForUpdate(feed(), "0.11"), CheckOutcome(UpToDate{}));
}

TEST_F(CheckForUpdateTest, NoAnswerSaysWhyAndUntrustedFeedsAreNeverAsked) {
    server.respond("GET", "/error.json", 503, feedWith("\"9.0\"", "https://norik.dev/"));
    server.respond("GET", "/broken.json", 200, R"({"version": "9.0", "url": )");
    server.respond("GET", "/feed.json", 200, feedWith("\"99.0\"", "https://norik.dev/"));
    const std::pair<std::string, std::string> rows[] = {{server.baseUrl() + "/error.json", "0.1"},
                                                        {server.baseUrl() + "/broken.json", "0.1"},
                                                        {"http://norik.dev/feed.json", "0.1"},
                                                        {feed(), "dev-build"}};
    for (const auto& [url, installed] : rows) {
        const CheckOutcome outcome = checkForUpdate(url, installed);
        EXPECT_TRUE(std::holds_alternative<Unreachable>(outcome) && !std::get<Unreachable>(outcome).reason.empty())
            << url << " " << installed;
    }
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST_F(CheckForUpdateTest, AStopRequestEndsACheckTheServerNeverAnswers) {
    server.neverAnswer("GET", "/feed.json");
    std::stop_source stop;
    auto outcome = std::async(std::launch::async, [&] { return checkForUpdate(feed(), "0.1.0", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    EXPECT_TRUE(std::holds_alternative<Unreachable>(outcome.get()));
}

} // namespace
} // namespace norik::core::updates
