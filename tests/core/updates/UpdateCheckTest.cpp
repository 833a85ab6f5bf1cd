// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateCheck.h"

#include <future>
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "support/LoopbackServer.h"

namespace norik::core::updates {
namespace {

using namespace std::chrono_literals;

struct OrderCase {
    const char* name;
    const char* newer;
    const char* older;
};

class VersionOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrderTest, TheNewerComparesGreaterBothWays) {
    const OrderCase& row = GetParam();
    EXPECT_EQ(compareVersions(row.newer, row.older), std::strong_ordering::greater);
    EXPECT_EQ(compareVersions(row.older, row.newer), std::strong_ordering::less);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionOrderTest,
                         testing::Values(OrderCase{"ComponentsCompareAsNumbersNotText", "1.10", "1.9"},
                                         OrderCase{"AHigherMajorBeatsLongerMinors", "2", "1.99.99"},
                                         OrderCase{"ALastComponentDecides", "0.1.1", "0.1.0"},
                                         OrderCase{"AnExtraNonZeroComponentIsNewer", "1.2.0.1", "1.2"},
                                         OrderCase{"MoreDigitsIsMoreEvenAfterLeadingZeros", "1.010", "1.009"},
                                         OrderCase{"ComponentsBeyond64BitsDoNotOverflow", "1.18446744073709551616",
                                                   "1.18446744073709551615"}),
                         [](const testing::TestParamInfo<OrderCase>& row) { return std::string(row.param.name); });

TEST(CompareVersionsTest, MissingComponentsAndLeadingZerosAreZero) {
    for (const auto& [a, b] :
         {std::pair{"1.2", "1.2.0"}, std::pair{"1", "1.0.0.0"}, std::pair{"01.002", "1.2"}, std::pair{"0", "0.0"}}) {
        EXPECT_EQ(compareVersions(a, b), std::strong_ordering::equal) << a << " vs " << b;
        EXPECT_EQ(compareVersions(b, a), std::strong_ordering::equal) << b << " vs " << a;
    }
}

TEST(CompareVersionsTest, AMalformedVersionIsNeitherNewerNorOlder) {
    for (const char* malformed :
         {"", ".", "1.", ".1", "1..2", "v1.2", "1.2-beta", "1.2 ", " 1.2", "-1", "+1", "1,2", "1.2a", "latest"}) {
        EXPECT_EQ(compareVersions(malformed, "1.0"), std::nullopt) << '"' << malformed << '"';
        EXPECT_EQ(compareVersions("1.0", malformed), std::nullopt) << '"' << malformed << '"';
    }
}

struct FeedErrorCase {
    const char* name;
    const char* body;
    const char* error;
};

class FeedErrorTest : public testing::TestWithParam<FeedErrorCase> {};

TEST_P(FeedErrorTest, SaysWhatIsWrong) {
    const auto decoded = decodeFeed(GetParam().body);
    ASSERT_FALSE(decoded.has_value()) << decoded->version;
    EXPECT_EQ(decoded.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, FeedErrorTest,
    testing::Values(
        FeedErrorCase{"NotJson", "<html>Moved</html>", "The update feed is not valid JSON."},
        FeedErrorCase{"Truncated", R"({"version": "1.2", "url": "https://norik.dev/)",
                      "The update feed is not valid JSON."},
        FeedErrorCase{"NotAnObject", R"(["1.2", "https://norik.dev/"])", "The update feed is not a JSON object."},
        FeedErrorCase{"NoVersion", R"({"url": "https://norik.dev/"})", "The update feed has no \"version\" string."},
        FeedErrorCase{"NumericVersion", R"({"version": 1.2, "url": "https://norik.dev/"})",
                      "The update feed has no \"version\" string."},
        FeedErrorCase{"NoUrl", R"({"version": "1.2"})", "The update feed has no \"url\" string."},
        FeedErrorCase{"UrlNotAString", R"({"version": "1.2", "url": {"href": "https://norik.dev/"}})",
                      "The update feed has no \"url\" string."},
        FeedErrorCase{"NotesNotAString", R"({"version": "1.2", "url": "https://norik.dev/", "notes": ["a"]})",
                      "The update feed's \"notes\" is not a string."},
        FeedErrorCase{"MalformedVersion", R"({"version": "1.3-beta", "url": "https://norik.dev/"})",
                      "The update feed's version \"1.3-beta\" is not a version number."},
        FeedErrorCase{"FileUrl", R"({"version": "9.0", "url": "file:///usr/bin/xterm"})",
                      "The update feed's page \"file:///usr/bin/xterm\" is not an http or https address."},
        FeedErrorCase{"JavascriptUrl", R"js({"version": "9.0", "url": "javascript:alert(1)"})js",
                      "The update feed's page \"javascript:alert(1)\" is not an http or https address."},
        FeedErrorCase{"FtpUrl", R"({"version": "9.0", "url": "ftp://norik.dev/norik.deb"})",
                      "The update feed's page \"ftp://norik.dev/norik.deb\" is not an http or https address."},
        FeedErrorCase{"UrlWithoutHost", R"({"version": "9.0", "url": "https://"})",
                      "The update feed's page \"https://\" is not an http or https address."},
        FeedErrorCase{"PlainHttpPage", R"({"version": "9.0", "url": "http://norik.dev/download"})",
                      "The update feed's page \"http://norik.dev/download\" is not an https address."},
        FeedErrorCase{"PlainHttpPageNamingLoopbackAsItsUser",
                      R"({"version": "9.0", "url": "http://127.0.0.1@norik.dev/download"})",
                      "The update feed's page \"http://127.0.0.1@norik.dev/download\" is not an https address."}),
    [](const testing::TestParamInfo<FeedErrorCase>& row) { return std::string(row.param.name); });

TEST(DecodeFeedTest, PlainHttpIsTrustedOnlyOnThisMachineAndLongNotesAreCut) {
    for (const char* page : {"http://127.0.0.1:8080/dl", "HTTP://LOCALHOST/dl", "http://[::1]:9/dl"}) {
        const std::string body = std::string(R"({"version": "1.2", "url": ")") + page + R"("})";
        EXPECT_TRUE(decodeFeed(body).has_value()) << page;
    }
    const std::string notes(3 * kMaxNotesCharacters, 'n');
    const auto decoded = decodeFeed(R"({"version": "1.2", "url": "https://norik.dev/", "notes": ")" + notes + "\"}");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->notes, notes.substr(0, kMaxNotesCharacters));
}

TEST(DecodeFeedTest, NotesAreOptionalAndOtherMembersIgnored) {
    EXPECT_EQ(decodeFeed(R"({"version": "1.2", "url": "https://norik.dev/1.2", "notes": "Faster reviews."})"),
              (Release{"1.2", "https://norik.dev/1.2", "Faster reviews."}));
    EXPECT_EQ(decodeFeed(R"({"version": "1.2", "url": "https://norik.dev/1.2", "notes": null, "sha256": "ab"})"),
              (Release{"1.2", "https://norik.dev/1.2", ""}));
}

class CheckForUpdateTest : public testing::Test {
protected:
    [[nodiscard]] std::string feed() const { return server.baseUrl() + "/feed.json"; }
    void serve(const std::string& body) { server.respond("GET", "/feed.json", 200, body); }

    test::LoopbackServer server;
};

TEST_F(CheckForUpdateTest, ANewerVersionIsOfferedWithItsPageAndNotes) {
    serve(R"({"version": "0.10.0", "url": "https://norik.dev/releases/0.10.0", "notes": "Reviews in Welsh."})");
    EXPECT_EQ(checkForUpdate(feed(), "0.9.3"),
              CheckOutcome(Release{"0.10.0", "https://norik.dev/releases/0.10.0", "Reviews in Welsh."}));
    ASSERT_EQ(server.requests().size(), 1U);
    EXPECT_EQ(server.requests().front().method, "GET");
    EXPECT_EQ(server.requests().front().path, "/feed.json");
}

TEST_F(CheckForUpdateTest, TheSameOrAnOlderVersionIsUpToDate) {
    serve(R"({"version": "0.1", "url": "https://norik.dev/"})");
    EXPECT_EQ(checkForUpdate(feed(), "0.1.0"), CheckOutcome(UpToDate{}));
    serve(R"({"version": "0.0.9", "url": "https://norik.dev/"})");
    EXPECT_EQ(checkForUpdate(feed(), "0.1.0"), CheckOutcome(UpToDate{}));
}

TEST_F(CheckForUpdateTest, NoAnswerSaysWhy) {
    server.respond("GET", "/gone.json", 200, "");
    server.respond("GET", "/broken.json", 200, R"({"version": "9.0", "url": )");
    server.respond("GET", "/local.json", 200, R"({"version": "9.0", "url": "file:///home"})");
    server.respond("GET", "/beta.json", 200, R"({"version": "9.0-beta", "url": "https://norik.dev/"})");
    server.respond("GET", "/error.json", 503, R"({"version": "9.0", "url": "https://norik.dev/"})");
    const struct {
        std::string url;
        std::string reason;
    } rows[] = {
        {server.baseUrl() + "/missing.json", "The update server answered with HTTP status 404."},
        {server.baseUrl() + "/error.json", "The update server answered with HTTP status 503."},
        {server.baseUrl() + "/gone.json", "The update feed is not valid JSON."},
        {server.baseUrl() + "/broken.json", "The update feed is not valid JSON."},
        {server.baseUrl() + "/local.json", "The update feed's page \"file:///home\" is not an http or https address."},
        {server.baseUrl() + "/beta.json", "The update feed's version \"9.0-beta\" is not a version number."},
        {"feed.json", "The address is not a valid http or https URL."},
        {"http://norik.dev/feed.json", "The update feed \"http://norik.dev/feed.json\" is not an https address."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(checkForUpdate(row.url, "0.1.0"), CheckOutcome(Unreachable{row.reason})) << row.url;
    }
}

TEST_F(CheckForUpdateTest, ARefusedConnectionGivesTheTransportsReason) {
    const auto outcome =
        checkForUpdate("http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/feed.json", "0.1");
    const auto* unreachable = std::get_if<Unreachable>(&outcome);
    ASSERT_NE(unreachable, nullptr);
    EXPECT_NE(unreachable->reason.find("onnect"), std::string::npos) << unreachable->reason;
}

TEST_F(CheckForUpdateTest, AMalformedInstalledVersionIsNeverOfferedAnything) {
    serve(R"({"version": "99.0", "url": "https://norik.dev/"})");
    EXPECT_EQ(checkForUpdate(feed(), "dev-build"),
              CheckOutcome(Unreachable{"The installed version \"dev-build\" is not a version number."}));
    EXPECT_TRUE(server.requests().empty());
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
