// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/TutorService.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "core/providers/ProviderCatalogue.h"
#include "core/text/Text.h"
#include "core/tutor/ReplyReader.h"

namespace norik::core {
namespace {

constexpr std::string_view kPromptHead =
    "You are a language tutor, not an editor. The user is learning to write better in the language they wrote "
    "in. Help them understand and improve; never silently do the work for them.\n\nDetect the language of the "
    "user's text. Write every explanation in ";

constexpr std::string_view kPromptTail = R"PROMPT(.

Return ONLY a JSON object with this exact shape, no prose around it:
{
  "language": "<BCP-47 code of the user's text>",
  "corrected": "<the user's text with mistakes fixed>",
  "improved": "<a more natural, idiomatic rewrite>",
  "issues": [
    {
      "excerpt": "<the exact problematic fragment>",
      "explanation": "<why it is wrong and the underlying rule to remember>",
      "category": "<grammar|spelling|word-choice|register|punctuation|syntax>"
    }
  ],
  "score": <integer 0-10 rating the original text>
}

Rules:
- "corrected" and "improved" contain ONLY the rewritten text, nothing else. Never add commentary, notes, or a summary of your changes to them.
- Put every explanation in "issues", one entry per distinct mistake.
- Each explanation teaches the rule so the mistake is avoided next time. Be concise.

Score the ORIGINAL text with this rubric:
- 9-10: essentially flawless and natural.
- 7-8: one or two minor mistakes, fully clear.
- 5-6: a few noticeable mistakes, meaning still clear.
- 3-4: frequent mistakes that start to obscure the meaning.
- 0-2: hard to understand.)PROMPT";

} // namespace

std::expected<TutorResult, ReviewError> TutorService::parse(std::string_view reply) {
    std::string_view candidate = reply;
    const auto first = reply.find('{');
    const auto last = reply.rfind('}');
    if (first != std::string_view::npos && last != std::string_view::npos && first < last) {
        candidate = reply.substr(first, last - first + 1);
    }
    // No separate UTF-8 check: the reader refuses invalid sequences inside strings, and any byte outside
    // a string that is not JSON syntax fails the read anyway.
    if (auto result = reply_reader::read(candidate)) {
        return std::move(*result);
    }
    return std::unexpected(LLMError::invalidResponse());
}

std::string TutorService::systemPrompt(std::string_view explanationLanguage) {
    std::string prompt;
    prompt.reserve(kPromptHead.size() + explanationLanguage.size() + kPromptTail.size());
    prompt.append(kPromptHead).append(explanationLanguage).append(kPromptTail);
    return prompt;
}

std::string TutorService::userMessage(std::string_view text, std::span<const std::string> frequentCategories) {
    std::string message = "Text to review:\n\"\"\"\n";
    message.append(text).append("\n\"\"\"");
    if (!frequentCategories.empty()) {
        message.append("\n\nThe user often makes these categories of mistake; flag them if present: ");
        for (std::size_t index = 0; index < frequentCategories.size(); ++index) {
            message.append(index == 0 ? "" : ", ").append(frequentCategories[index]);
        }
        message.append(".");
    }
    return message;
}

std::expected<TutorResult, ReviewError> TutorService::review(const std::string& text,
                                                             const Preferences::Snapshot& preferences,
                                                             std::span<const std::string> frequentCategories,
                                                             std::stop_token stop) const {
    const auto client =
        makeClient(preferences.provider, preferences.apiKey, preferences.model, preferences.localEndpoint);
    const auto reply = client->complete(systemPrompt(preferences.explanationLanguage),
                                        userMessage(text, frequentCategories), std::move(stop));
    if (!reply) {
        return std::unexpected(reply.error());
    }
    return parse(*reply);
}

std::optional<PreparedText> prepareReviewText(std::string_view captured) {
    PreparedText prepared{text::trimmed(captured), std::nullopt};
    if (prepared.text.empty()) {
        return std::nullopt;
    }
    // Counting stops one character past the limit, so a huge paste costs no more than a long one.
    if (text::graphemeCount(text::prefixGraphemes(prepared.text, kReviewTextLimit + 1)) > kReviewTextLimit) {
        prepared.text = text::prefixGraphemes(prepared.text, kReviewTextLimit);
        prepared.note = "Only the first " + std::to_string(kReviewTextLimit) + " characters were reviewed.";
    }
    return prepared;
}

std::string toJson(const TutorResult& result) {
    // Keys in the order the reply format lists them, which is how people read it.
    nlohmann::ordered_json issues = nlohmann::ordered_json::array();
    for (const auto& issue : result.issues) {
        issues.push_back(
            {{"excerpt", issue.excerpt}, {"explanation", issue.explanation}, {"category", issue.category}});
    }
    const nlohmann::ordered_json object = {{"language", result.language},
                                           {"corrected", result.corrected},
                                           {"improved", result.improved},
                                           {"issues", std::move(issues)},
                                           {"score", result.score}};
    return object.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace norik::core
