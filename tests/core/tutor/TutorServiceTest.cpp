// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/TutorService.h"

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

TEST(PromptTest, TheTextIsQuotedAsItIsAndFrequentCategoriesAreListed) {
    EXPECT_NE(TutorService::systemPrompt("Deutsch").find("Write every explanation in Deutsch."), std::string::npos);
    EXPECT_EQ(TutorService::userMessage("I has \"\"\"{quotes}\"\"\"", {}),
              "Text to review:\n\"\"\"\nI has \"\"\"{quotes}\"\"\"\n\"\"\"");
    const std::vector<std::string> categories{"grammar", "word-choice"};
    EXPECT_TRUE(TutorService::userMessage("x", categories).ends_with(": grammar, word-choice."));
}

// The providers' own wiring is tested with their clients; here, what the service adds around one of them.
TEST(TutorServiceTest, SendsThePromptsOnceAndParsesTheWrappedReply) {
    test::LoopbackServer server;
    server.respond("POST", "/api/chat", 200, json{{"message", {{"role", "assistant"}, {"content", kReply}}}}.dump());
    const std::vector<std::string> categories{"grammar"};
    const Preferences::Snapshot snapshot{LLMProvider::local, "", "model-x", server.baseUrl(), "English"};
    const auto result = TutorService().review("Ich habe gegangen.", snapshot, categories);
    ASSERT_TRUE(result.has_value()) << result.error().userMessage();
    EXPECT_EQ(result->issues.at(0).category, "Grammar");
    ASSERT_EQ(server.requests().size(), 1U) << "one call per review, no retry";
    const json messages = json::parse(server.requests().back().body)["messages"];
    EXPECT_EQ(messages[0]["content"], TutorService::systemPrompt("English"));
    EXPECT_EQ(messages[1]["content"], TutorService::userMessage("Ich habe gegangen.", categories));
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

    const auto huge = prepareReviewText(std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(text::graphemeCount(huge->text), 4000U);
    EXPECT_TRUE(huge->note.has_value());
}

} // namespace
} // namespace norik::core
