// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <gtest/gtest.h>

#include "core/tutor/MistakeCategory.h"
#include "core/tutor/TutorService.h"

namespace norik::core {
namespace {

const std::string kObject =
    R"({"language":"en","corrected":"I went home.","improved":"I headed home.",)"
    R"("issues":[{"excerpt":"goed","explanation":"Irregular past: go -> went.","category":"Word Choice"}],"score":6})";

// Cut out of the text around it, with its values exactly as received and unknown members ignored.
TEST(ParseTest, TakesTheObjectOutOfSurroundingTextAsItIs) {
    const TutorResult expected{
        "en", "I went home.", "I headed home.", {{"goed", "Irregular past: go -> went.", "Word Choice"}}, 6};
    const std::pair<std::string, TutorResult> rows[] = {
        {kObject, expected},
        {"```json\n" + kObject + "\n```", expected},
        {"Here you go:\n" + kObject + "\nHope it helps.", expected},
        {"\n\n  " + kObject + "  \n", expected},
        {R"({"language":" EN ","corrected":"{x}","improved":"a } b { c","score":7.0,"extra":{"n":[1,[true,null]]},)"
         R"("issues":[{"span":{"from":1},"excerpt":"a","explanation":"b","category":"c"}]})",
         {" EN ", "{x}", "a } b { c", {{"a", "b", "c"}}, 7}},
        {R"({"score":-9223372036854775808,"language":"","corrected":"","improved":"","issues":[]})",
         {"", "", "", {}, INT64_MIN}},
    };
    for (const auto& [reply, result] : rows) {
        EXPECT_EQ(TutorService::parse(reply), result) << reply;
    }
}

TEST(ParseTest, RejectsAnythingButOneWholeWellTypedObject) {
    for (
        const std::string& reply :
        {std::string(), std::string("no json here"), std::string("{ but no closing"), std::string("} before {"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[]})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":"7"})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":7.5})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":9223372036854775808})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":{},"score":1})"),
         std::string(
             R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y"}],"score":1})"),
         std::string(
             R"({"language":"en","corrected":"c","improved":"i","issues":[{"excerpt":"x","explanation":"y","category":3}],"score":1})"),
         std::string(R"({"Language":"en","corrected":"c","improved":"i","issues":[],"score":1})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1} and {"more"})"),
         std::string(R"({"language":"en","corrected":"c","improved":"i","issues":[],"score":1)"),
         std::string(R"(["language","en"])"),
         std::string(R"({"language":"e)") + "\xff" + R"(n","corrected":"c","improved":"i","issues":[],"score":1})",
         std::string(R"({"language":"en",)") + std::string(1, '\0') +
             R"("corrected":"c","improved":"i","issues":[],"score":1})",
         "{\"a\":" + std::string(1 << 20, '[') + "}"}) {
        EXPECT_EQ(TutorService::parse(reply), std::unexpected(ReviewError(LLMError::invalidResponse())))
            << reply.substr(0, 80);
    }
}

// The language and the frequent categories reaching the request are the command line's checks.
TEST(PromptTest, TheTextIsQuotedAsItIs) {
    EXPECT_EQ(TutorService::userMessage("I has \"\"\"{quotes}\"\"\"", {}),
              "Text to review:\n\"\"\"\nI has \"\"\"{quotes}\"\"\"\n\"\"\"");
}

TEST(PrepareReviewTextTest, TrimsRefusesEmptyAndCutsAtTheLimit) {
    EXPECT_FALSE(prepareReviewText(" \n\t\u00A0 ").has_value());

    const std::string emoji = "\U0001F44D\U0001F3FD"; // thumbs up with a skin tone: one character
    const std::string exactly = std::string(3999, 'a') + emoji;
    const auto whole = prepareReviewText(" " + exactly + " ");
    EXPECT_EQ(whole->text, exactly);
    EXPECT_FALSE(whole->note.has_value());

    const auto cut = prepareReviewText(exactly + "e\u0301");
    EXPECT_EQ(cut->text, exactly);
    EXPECT_TRUE(cut->note.has_value());
}

// Counting under the normalised category is the history's test; here, the spellings models use.
TEST(MistakeCategoryTest, NormalisesLenientlyAndRawValuesRoundTripCaseSensitively) {
    const std::pair<const char*, MistakeCategory> rows[] = {
        {"Word-Choice", MistakeCategory::wordChoice},
        {"spelling/grammar", MistakeCategory::grammar}, // grammar is tried first
        {"punctuation and register", MistakeCategory::register_},
        {"typo", MistakeCategory::other},
        {"word_choice", MistakeCategory::other}, // underscores are not squashed
        {"\tSPELLING\n", MistakeCategory::spelling},
        {"word - choice", MistakeCategory::wordChoice},
        {"\u00A0Syntax\u2028", MistakeCategory::syntax},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(mistake_category::normalized(text), expected) << '"' << text << '"';
    }
    for (const MistakeCategory category : mistake_category::kAllCases) {
        EXPECT_EQ(mistake_category::fromRawValue(mistake_category::rawValue(category)), category);
    }
    EXPECT_FALSE(mistake_category::fromRawValue("Grammar").has_value());
}

} // namespace
} // namespace norik::core
