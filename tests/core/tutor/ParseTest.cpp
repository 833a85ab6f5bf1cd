// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <gtest/gtest.h>

#include "core/tutor/TutorService.h"

namespace norik::core {
namespace {

const std::string kObject =
    R"({"language":"en","corrected":"I went home.","improved":"I headed home.",)"
    R"("issues":[{"excerpt":"goed","explanation":"Irregular past: go -> went.","category":"Word Choice"}],"score":6})";

TutorResult expectedObject() {
    return {"en", "I went home.", "I headed home.", {{"goed", "Irregular past: go -> went.", "Word Choice"}}, 6};
}

bool isInvalidResponse(const std::expected<TutorResult, ReviewError>& result) {
    return !result && result.error() == ReviewError(LLMError::invalidResponse());
}

TEST(ParseTest, CutsTheObjectOutOfSurroundingText) {
    for (const std::string& reply : {kObject, "```json\n" + kObject + "\n```",
                                     "Here you go:\n" + kObject + "\nHope it helps.", "\n\n  " + kObject + "  \n"}) {
        const auto result = TutorService::parse(reply);
        ASSERT_TRUE(result.has_value()) << reply;
        EXPECT_EQ(*result, expectedObject());
    }
}

TEST(ParseTest, KeepsValuesExactlyAsReceived) {
    const auto result = TutorService::parse(
        R"({"language":" EN ","corrected":"{x}","improved":"a } b { c","issues":[],"score":12,"notes":"ignored",)"
        R"("extra":{"nested":[1,[true,null,{"x":"y"}]]}})");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->language, " EN ");
    EXPECT_EQ(result->corrected, "{x}"); // braces inside strings are harmless: the outermost pair is taken
    EXPECT_EQ(result->improved, "a } b { c");
    EXPECT_TRUE(result->issues.empty());
    EXPECT_EQ(result->score, 12);

    EXPECT_EQ(TutorService::parse(R"({"language":"","corrected":"","improved":"","issues":[],"score":-1})")->score, -1);
    EXPECT_EQ(TutorService::parse(R"({"language":"","corrected":"","improved":"","issues":[],"score":7.0})")->score, 7);
    EXPECT_EQ(
        TutorService::parse(R"({"score":-9223372036854775808,"language":"","corrected":"","improved":"","issues":[]})")
            ->score,
        INT64_MIN);
    const auto withNul = TutorService::parse(
        std::string(R"({"language":"a\u0000b","corrected":"","improved":"","issues":[],"score":1})"));
    ASSERT_TRUE(withNul.has_value());
    EXPECT_EQ(withNul->language, std::string("a\0b", 3));
}

class RejectedReplyTest : public testing::TestWithParam<std::string> {};

TEST_P(RejectedReplyTest, FailsWithInvalidResponse) {
    EXPECT_TRUE(isInvalidResponse(TutorService::parse(GetParam())));
}

const std::string kNoScore = R"({"language":"en","corrected":"c","improved":"i","issues":[]})";

INSTANTIATE_TEST_SUITE_P(
    Replies, RejectedReplyTest,
    testing::Values(
        "", "no json here", "{ but no closing", "} before {", kNoScore,
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":"7"})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":7.5})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":null})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":9223372036854775808})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1e30})",
        R"({"language":"en","corrected":"c","improved":"i","issues":{},"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y"}],"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y","category":3}],"score":1})",
        R"({"Language":"en","corrected":"c","improved":"i","issues":[],"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1} and {"more"})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1} then a stray })",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1)", R"(["language","en"])",
        std::string(R"({"language":"e)") + "\xff" + R"(n","corrected":"c","improved":"i","issues":[],"score":1})",
        std::string(R"({"language":"en",)") + std::string(1, '\0') +
            R"("corrected":"c","improved":"i","issues":[],"score":1})"));

TEST(ParseTest, IgnoresUnknownMembersOfEveryShapeInsideIssues) {
    const auto result = TutorService::parse(
        R"({"issues":[{"span":{"from":1,"to":[2,3]},"excerpt":"a","severity":2.5,"explanation":"b","category":"c",)"
        R"("tags":[]},{"category":"d","explanation":"e","excerpt":"f"}],"score":3,"language":"x","corrected":"y",)"
        R"("improved":"z","notes":[[["deep"]]]})");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->issues, (std::vector<TutorResult::Issue>{{"a", "b", "c"}, {"f", "e", "d"}}));
    EXPECT_EQ(result->score, 3);
}

TEST(ParseTest, SurvivesHostileReplies) {
    const std::string deepArrays = "{\"a\":" + std::string(1 << 20, '[') + "}";
    EXPECT_TRUE(isInvalidResponse(TutorService::parse(deepArrays)));
    std::string deepObjects;
    for (int i = 0; i < 100000; ++i) {
        deepObjects += "{\"a\":";
    }
    deepObjects += "1" + std::string(100000, '}');
    EXPECT_TRUE(isInvalidResponse(TutorService::parse(deepObjects)));
}

TEST(ParseTest, EncodesBackToTheReplyFormat) {
    const auto reparsed = TutorService::parse(toJson(expectedObject()));
    ASSERT_TRUE(reparsed.has_value());
    EXPECT_EQ(*reparsed, expectedObject());
}

} // namespace
} // namespace norik::core
