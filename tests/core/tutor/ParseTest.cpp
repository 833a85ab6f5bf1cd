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

TEST(ParseTest, KeepsValuesExactlyAsReceivedAndIgnoresUnknownMembers) {
    const auto result = TutorService::parse(
        R"({"language":" EN ","corrected":"{x}","improved":"a } b { c","score":7.0,"extra":{"n":[1,[true,null]]},)"
        R"("issues":[{"span":{"from":1},"excerpt":"a","explanation":"b","category":"c"}]})");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, (TutorResult{" EN ", "{x}", "a } b { c", {{"a", "b", "c"}}, 7}));
    EXPECT_EQ(
        TutorService::parse(R"({"score":-9223372036854775808,"language":"","corrected":"","improved":"","issues":[]})")
            ->score,
        INT64_MIN);
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
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":9223372036854775808})",
        R"({"language":"en","corrected":"c","improved":"i","issues":{},"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y"}],"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y","category":3}],"score":1})",
        R"({"Language":"en","corrected":"c","improved":"i","issues":[],"score":1})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1} and {"more"})",
        R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1)", R"(["language","en"])",
        std::string(R"({"language":"e)") + "\xff" + R"(n","corrected":"c","improved":"i","issues":[],"score":1})",
        std::string(R"({"language":"en",)") + std::string(1, '\0') +
            R"("corrected":"c","improved":"i","issues":[],"score":1})"));

TEST(ParseTest, SurvivesHostileReplies) {
    EXPECT_TRUE(isInvalidResponse(TutorService::parse("{\"a\":" + std::string(1 << 20, '[') + "}")));
}

TEST(ParseTest, EncodesBackToTheReplyFormat) {
    const auto reparsed = TutorService::parse(toJson(expectedObject()));
    ASSERT_TRUE(reparsed.has_value());
    EXPECT_EQ(*reparsed, expectedObject());
}

} // namespace
} // namespace norik::core
