// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/TutorService.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/text/Text.h"

#include "support/LoopbackServer.h"

namespace norik::core {
namespace {

using nlohmann::json;

const std::string kReply =
    "Sure! Here is the review:\n```json\n"
    R"({"language":"de","corrected":"Ich bin gegangen.","improved":"Ich ging.","issues":[)"
    R"({"excerpt":"habe gegangen","explanation":"Verbs of motion take sein.","category":"Grammar"}],)"
    R"("score":5})"
    "\n```\nGood luck!";

class TutorServiceTest : public testing::Test {
protected:
    void SetUp() override {
        server.respond("POST", "/v1/messages", 200, json{{"content", {{{"type", "text"}, {"text", kReply}}}}}.dump());
        server.respond("POST", "/chat/completions", 200,
                       json{{"choices", {{{"message", {{"content", kReply}}}}}}}.dump());
        server.respond("POST", "/api/chat", 200,
                       json{{"message", {{"role", "assistant"}, {"content", kReply}}}}.dump());
        ::setenv("NORIK_ANTHROPIC_BASE_URL", server.baseUrl().c_str(), 1);
        ::setenv("NORIK_OPENAI_BASE_URL", server.baseUrl().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("NORIK_ANTHROPIC_BASE_URL");
        ::unsetenv("NORIK_OPENAI_BASE_URL");
    }
    Preferences::Snapshot snapshot(LLMProvider provider) const {
        return {provider, "sk-secret-key", "model-x", server.baseUrl(), "English"};
    }
    test::LoopbackServer server;
};

TEST(PromptTest, SystemPromptAsksForExplanationsInTheChosenLanguage) {
    EXPECT_NE(TutorService::systemPrompt("Deutsch").find("Write every explanation in Deutsch.\n"), std::string::npos);
}

TEST(PromptTest, UserMessageQuotesTheTextAndListsFrequentCategories) {
    EXPECT_EQ(TutorService::userMessage("I has \"\"\"{quotes}\"\"\"", {}),
              "Text to review:\n\"\"\"\nI has \"\"\"{quotes}\"\"\"\n\"\"\"");
    const std::vector<std::string> categories{"grammar", "word-choice", "other"};
    EXPECT_EQ(TutorService::userMessage("x", categories),
              "Text to review:\n\"\"\"\nx\n\"\"\"\n\nThe user often makes these categories of mistake; flag them if "
              "present: grammar, word-choice, other.");
}

TEST_F(TutorServiceTest, ReviewsWithEachProviderAndParsesTheWrappedReply) {
    const std::vector<std::string> categories{"grammar"};
    for (const LLMProvider provider : kAllProviders) {
        const auto result = TutorService().review("Ich habe gegangen.", snapshot(provider), categories);
        ASSERT_TRUE(result.has_value()) << rawValue(provider) << ": " << result.error().userMessage();
        EXPECT_EQ(result->corrected, "Ich bin gegangen.");
        EXPECT_EQ(result->issues.at(0).category, "Grammar");

        const json body = json::parse(server.requests().back().body);
        const std::string system = body.contains("system") ? body["system"] : body["messages"][0]["content"];
        const std::string user = body["messages"][body["messages"].size() - 1]["content"];
        EXPECT_EQ(system, TutorService::systemPrompt("English"));
        EXPECT_EQ(user, TutorService::userMessage("Ich habe gegangen.", categories));
        EXPECT_EQ(server.requests().back().body.find("sk-secret-key"), std::string::npos);
    }
    EXPECT_EQ(server.requests().size(), kAllProviders.size()); // one call per review, no retry
}

TEST_F(TutorServiceTest, FailuresPassThroughAndUnreadableRepliesAreInvalid) {
    server.respond("POST", "/v1/messages", 401, R"({"error":{"message":"invalid x-api-key"}})");
    EXPECT_EQ(TutorService().review("t", snapshot(LLMProvider::anthropic), {}).error(),
              ReviewError(LLMError::invalidAPIKey()));

    server.respond("POST", "/v1/messages", 200, R"({"content":[]})");
    EXPECT_EQ(TutorService().review("t", snapshot(LLMProvider::anthropic), {}).error(),
              ReviewError(LLMError::invalidResponse()));

    auto noKey = snapshot(LLMProvider::openAI);
    noKey.apiKey.clear();
    EXPECT_EQ(TutorService().review("t", noKey, {}).error(), ReviewError(LLMError::missingAPIKey()));
}

TEST(PrepareReviewTextTest, TrimsRefusesEmptyAndCutsAtTheLimit) {
    EXPECT_FALSE(prepareReviewText(" \n\t\u00A0 ").has_value());
    EXPECT_FALSE(prepareReviewText("").has_value());
    EXPECT_EQ(prepareReviewText("\n  hello \n")->text, "hello");

    const std::string emoji = "\U0001F44D\U0001F3FD"; // thumbs up with a skin tone: one character
    const std::string exactly = std::string(3999, 'a') + emoji;
    const auto whole = prepareReviewText(" " + exactly + " ");
    EXPECT_EQ(whole->text, exactly);
    EXPECT_FALSE(whole->note.has_value());

    const auto cut = prepareReviewText(exactly + "e\u0301");
    EXPECT_EQ(cut->text, exactly);
    EXPECT_EQ(cut->note, "Only the first 4000 characters were reviewed.");

    const auto huge = prepareReviewText(std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(text::graphemeCount(huge->text), 4000U);
    EXPECT_TRUE(huge->note.has_value());
}

} // namespace
} // namespace norik::core
