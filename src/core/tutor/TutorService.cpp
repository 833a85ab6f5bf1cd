// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/TutorService.h"

#include <limits>
#include <optional>

#include <cmath>
#include <nlohmann/json.hpp>

#include "core/providers/AnthropicClient.h"
#include "core/providers/LocalClient.h"
#include "core/providers/OpenAIClient.h"
#include "core/text/Text.h"

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

using nlohmann::json;

// Decodes the reply object straight from the parser's events instead of building a document first: it
// is several times faster, and a hostile reply (megabytes of nesting) is refused at kMaxDepth instead of
// being built up and torn down.
class ReplyDecoder final : public nlohmann::json_sax<json> {
public:
    [[nodiscard]] std::optional<TutorResult> result() && {
        if (!m_done) {
            return std::nullopt;
        }
        return std::move(m_result);
    }

    bool null() override { return scalar(); }
    bool boolean(bool) override { return scalar(); }
    bool number_integer(number_integer_t value) override { return integer(value); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return scalar();
        }
        return integer(static_cast<std::int64_t>(value));
    }
    // 7.0 and 7e0 are the integer 7; 7.5 and anything beyond 64 bits are not.
    bool number_float(number_float_t value, const string_t&) override {
        constexpr double kLimit = 9223372036854775808.0; // 2^63, exactly representable
        if (std::trunc(value) != value || value < -kLimit || value >= kLimit) {
            return scalar();
        }
        return integer(static_cast<std::int64_t>(value));
    }
    bool string(string_t& value) override {
        if (m_skipDepth > 0 || m_target == nullptr) {
            return scalar();
        }
        *m_target = std::move(value);
        *m_seenTarget |= m_targetBit;
        m_target = nullptr;
        return true;
    }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override {
        if (!enter()) {
            return false;
        }
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        if (m_depth == 1) {
            return true; // the reply object itself
        }
        if (m_depth == 3 && m_inIssues) {
            m_issue = {};
            m_issueSeen = 0;
            return true;
        }
        return beginSkip();
    }
    bool end_object() override {
        --m_depth;
        if (m_skipDepth > 0) {
            return leaveSkip();
        }
        if (m_depth == 2 && m_inIssues) {
            if (m_issueSeen != kAllIssueFields) {
                return false;
            }
            m_result.issues.push_back(std::move(m_issue));
            return true;
        }
        m_done = m_depth == 0 && m_seen == kAllFields;
        return m_done;
    }
    bool start_array(std::size_t) override {
        if (!enter()) {
            return false;
        }
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        if (m_depth == 2 && m_expectIssues) {
            m_expectIssues = false;
            m_inIssues = true;
            m_result.issues.clear();
            return true;
        }
        return beginSkip();
    }
    bool end_array() override {
        --m_depth;
        if (m_skipDepth > 0) {
            return leaveSkip();
        }
        m_inIssues = false;
        m_seen |= kIssues;
        return true;
    }
    bool key(string_t& name) override {
        if (m_skipDepth > 0) {
            return true;
        }
        m_target = nullptr;
        m_expectIssues = false;
        m_expectScore = false;
        if (m_depth == 1) {
            if (name == "language") {
                expectString(m_result.language, kLanguage);
            } else if (name == "corrected") {
                expectString(m_result.corrected, kCorrected);
            } else if (name == "improved") {
                expectString(m_result.improved, kImproved);
            } else if (name == "issues") {
                m_expectIssues = true;
            } else if (name == "score") {
                m_expectScore = true;
            } else {
                m_skipNext = true;
            }
        } else if (name == "excerpt") {
            expectString(m_issue.excerpt, kExcerpt);
        } else if (name == "explanation") {
            expectString(m_issue.explanation, kExplanation);
        } else if (name == "category") {
            expectString(m_issue.category, kCategory);
        } else {
            m_skipNext = true;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    static constexpr unsigned kLanguage = 1U << 0U, kCorrected = 1U << 1U, kImproved = 1U << 2U, kIssues = 1U << 3U,
                              kScore = 1U << 4U;
    static constexpr unsigned kAllFields = kLanguage | kCorrected | kImproved | kIssues | kScore;
    static constexpr unsigned kExcerpt = 1U << 0U, kExplanation = 1U << 1U, kCategory = 1U << 2U;
    static constexpr unsigned kAllIssueFields = kExcerpt | kExplanation | kCategory;
    // Deep enough for any value a model adds beside the reply's own three levels.
    static constexpr std::size_t kMaxDepth = 256;

    void expectString(std::string& target, unsigned bit) {
        m_target = &target;
        m_targetBit = bit;
        m_seenTarget = m_depth == 1 ? &m_seen : &m_issueSeen;
    }
    bool enter() { return ++m_depth <= kMaxDepth; }
    // A value under a key we do not know is ignored, whatever its shape.
    bool beginSkip() {
        if (!m_skipNext) {
            return false;
        }
        m_skipNext = false;
        m_skipDepth = 1;
        return true;
    }
    bool leaveSkip() {
        --m_skipDepth;
        return true;
    }
    bool scalar() {
        if (m_skipDepth > 0) {
            return true;
        }
        if (m_skipNext) {
            m_skipNext = false;
            return true;
        }
        return false; // a required member with the wrong type, or a value where none belongs
    }
    bool integer(std::int64_t value) {
        if (m_skipDepth > 0 || m_skipNext) {
            return scalar();
        }
        if (!m_expectScore) {
            return false;
        }
        m_expectScore = false;
        m_result.score = value;
        m_seen |= kScore;
        return true;
    }

    TutorResult m_result;
    TutorResult::Issue m_issue;
    std::string* m_target = nullptr;
    unsigned m_targetBit = 0;
    unsigned* m_seenTarget = nullptr;
    unsigned m_seen = 0;
    unsigned m_issueSeen = 0;
    std::size_t m_depth = 0;
    std::size_t m_skipDepth = 0;
    bool m_skipNext = false;
    bool m_expectIssues = false;
    bool m_expectScore = false;
    bool m_inIssues = false;
    bool m_done = false;
};

} // namespace

std::expected<TutorResult, ReviewError> TutorService::parse(std::string_view reply) {
    std::string_view candidate = reply;
    const auto first = reply.find('{');
    const auto last = reply.rfind('}');
    if (first != std::string_view::npos && last != std::string_view::npos && first < last) {
        candidate = reply.substr(first, last - first + 1);
    }
    // No separate UTF-8 check: the JSON lexer refuses invalid sequences inside strings, and any byte
    // outside a string that is not JSON syntax fails the parse anyway.
    ReplyDecoder decoder;
    if (json::sax_parse(candidate, &decoder, json::input_format_t::json, /*strict=*/true)) {
        if (auto result = std::move(decoder).result()) {
            return std::move(*result);
        }
    }
    return std::unexpected(LLMError::invalidResponse());
}

std::unique_ptr<LLMClient> TutorService::makeClient(const Preferences::Snapshot& preferences) {
    switch (preferences.provider) {
    case LLMProvider::openAI:
        return std::make_unique<OpenAIClient>(preferences.apiKey, preferences.model);
    case LLMProvider::local:
        return std::make_unique<LocalClient>(preferences.localEndpoint, preferences.model);
    case LLMProvider::anthropic:
        break;
    }
    return std::make_unique<AnthropicClient>(preferences.apiKey, preferences.model);
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
    const auto client = makeClient(preferences);
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
