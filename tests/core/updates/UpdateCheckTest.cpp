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
                    OrderCase{"ASignIsMalformed", "-1", "1.0", std::nullopt},
                    OrderCase{"EmptyIsMalformed", "", "1.0", std::nullopt}),
    [](const testing::TestParamInfo<OrderCase>& row) { return std::string(row.param.name); });

struct FeedCase {
    const char* name;
    std::string body;
    std::string error; // empty: the feed decodes
};

class FeedTest : public testing::TestWithParam<FeedCase> {};

TEST_P(FeedTest, DecodesOrSaysWhatIsWrong) {
    const auto decoded = decodeFeed(GetParam().body);
    if (GetParam().error.empty()) {
        EXPECT_TRUE(decoded.has_value()) << decoded.error();
    } else {
        ASSERT_FALSE(decoded.has_value()) << decoded->version;
        EXPECT_EQ(decoded.error(), GetParam().error);
    }
}

std::string feedWithPage(const std::string& page) {
    return R"({"version": "9.0", "url": ")" + page + R"("})";
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, FeedTest,
    testing::Values(FeedCase{"NotJson", "<html>Moved</html>", "The update feed is not valid JSON."},
                    FeedCase{"NotAnObject", R"(["1.2", "https://norik.dev/"])",
                             "The update feed is not a JSON object."},
                    FeedCase{"NumericVersion", R"({"version": 1.2, "url": "https://norik.dev/"})",
                             "The update feed has no \"version\" string."},
                    FeedCase{"NoUrl", R"({"version": "1.2"})", "The update feed has no \"url\" string."},
                    FeedCase{"NotesNotAString", R"({"version": "1.2", "url": "https://norik.dev/", "notes": ["a"]})",
                             "The update feed's \"notes\" is not a string."},
                    FeedCase{"MalformedVersion", R"({"version": "1.3-beta", "url": "https://norik.dev/"})",
                             "The update feed's version \"1.3-beta\" is not a version number."},
                    FeedCase{"JavascriptPage", feedWithPage("javascript:alert(1)"),
                             "The update feed's page \"javascript:alert(1)\" is not an http or https address."},
                    FeedCase{"PageWithoutHost", feedWithPage("https://"),
                             "The update feed's page \"https://\" is not an http or https address."},
                    FeedCase{"PlainHttpPage", feedWithPage("http://norik.dev/download"),
                             "The update feed's page \"http://norik.dev/download\" is not an https address."},
                    FeedCase{"PlainHttpPageNamingLoopbackAsItsUser", feedWithPage("http://127.0.0.1@norik.dev/dl"),
                             "The update feed's page \"http://127.0.0.1@norik.dev/dl\" is not an https address."},
                    FeedCase{"PlainHttpOnThisMachine", feedWithPage("http://[::1]:9/dl"), ""},
                    FeedCase{"NullNotesAndUnknownMembers",
                             R"({"version": "1.2", "url": "https://norik.dev/", "notes": null, "sha256": "ab"})", ""}),
    [](const testing::TestParamInfo<FeedCase>& row) { return std::string(row.param.name); });

TEST(DecodeFeedTest, LongNotesAreCut) {
    const std::string notes(3 * kMaxNotesCharacters, 'n');
    const auto decoded = decodeFeed(R"({"version": "1.2", "url": "https://norik.dev/", "notes": ")" + notes + "\"}");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->notes, notes.substr(0, kMaxNotesCharacters));
}

class CheckForUpdateTest : public testing::Test {
protected:
    [[nodiscard]] std::string feed() const { return server.baseUrl() + "/feed.json"; }
    void serve(const std::string& body) { server.respond("GET", "/feed.json", 200, body); }

    test::LoopbackServer server;
};

TEST_F(CheckForUpdateTest, OffersOnlyANewerVersion) {
    serve(R"({"version": "0.10.0", "url": "https://norik.dev/releases/0.10.0", "notes": "Reviews in Welsh."})");
    EXPECT_EQ(checkForUpdate(feed(), "0.9.3"),
              CheckOutcome(Release{"0.10.0", "https://norik.dev/releases/0.10.0", "Reviews in Welsh."}));
    EXPECT_EQ(checkForUpdate(feed(), "0.10"), CheckOutcome(UpToDate{}));
    EXPECT_EQ(checkForUpdate(feed(), "0.11"), CheckOutcome(UpToDate{}));
}

TEST_F(CheckForUpdateTest, NoAnswerSaysWhyAndUntrustedFeedsAreNeverAsked) {
    server.respond("GET", "/error.json", 503, R"({"version": "9.0", "url": "https://norik.dev/"})");
    server.respond("GET", "/broken.json", 200, R"({"version": "9.0", "url": )");
    serve(R"({"version": "99.0", "url": "https://norik.dev/"})");
    const struct {
        std::string url;
        std::string installed;
        std::string reason;
    } rows[] = {
        {server.baseUrl() + "/error.json", "0.1", "The update server answered with HTTP status 503."},
        {server.baseUrl() + "/broken.json", "0.1", "The update feed is not valid JSON."},
        {"http://norik.dev/feed.json", "0.1",
         "The update feed \"http://norik.dev/feed.json\" is not an https address."},
        {feed(), "dev-build", "The installed version \"dev-build\" is not a version number."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(checkForUpdate(row.url, row.installed), CheckOutcome(Unreachable{row.reason})) << row.url;
    }
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST_F(CheckForUpdateTest, AStopRequestEndsACheckTheServerNeverAnswers) {
    server.neverAnswer("GET", "/feed.json");
    std::stop_source stop;
    auto outcome = std::async(std::launch::async, [&] { return checkForUpdate(feed(), "0.1.0", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    EXPECT_EQ(outcome.get(), CheckOutcome(Unreachable{"The request was cancelled."}));
}

} // namespace
} // namespace norik::core::updates
