// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/preferences/Preferences.h"
#include "core/providers/LLMClient.h"
#include "core/providers/ReviewError.h"
#include "core/tutor/TutorResult.h"

namespace norik::core {

// Turns one piece of text into a TutorResult: builds the tutoring prompt, makes exactly one model call
// with a client built for this call from the snapshot, and parses the reply. Stateless; any number of
// reviews may run at once on any threads.
class TutorService {
public:
    // Fails with whatever the client fails with (passed on unchanged, no retry) or with
    // LLMError::invalidResponse when the reply does not parse. `text` is sent verbatim.
    [[nodiscard]] std::expected<TutorResult, ReviewError> review(const std::string& text,
                                                                 const Preferences::Snapshot& preferences,
                                                                 std::span<const std::string> frequentCategories,
                                                                 std::stop_token stop = {}) const;

    [[nodiscard]] static std::string systemPrompt(std::string_view explanationLanguage);
    [[nodiscard]] static std::string userMessage(std::string_view text,
                                                 std::span<const std::string> frequentCategories);

    // Cuts the JSON object out of the model's reply (from the first "{" to the last "}") and decodes
    // it. Fails with LLMError::invalidResponse for anything that is not a valid reply object; the
    // decoder's detail is deliberately dropped. Pure and thread-safe.
    [[nodiscard]] static std::expected<TutorResult, ReviewError> parse(std::string_view reply);
};

// Review text as it goes to the model: trimmed and cut to kReviewTextLimit characters.
struct PreparedText {
    std::string text;
    std::optional<std::string> note; // present when the text was cut
};

inline constexpr std::size_t kReviewTextLimit = 4000;
inline constexpr std::string_view kEmptySelectionNotice = "Select some text, then trigger Norik.";

// Absent when nothing but whitespace was captured. Characters are grapheme clusters.
[[nodiscard]] std::optional<PreparedText> prepareReviewText(std::string_view captured);

// The reply format's JSON, with the reply object's keys (for `norik review --json`).
[[nodiscard]] std::string toJson(const TutorResult& result);

} // namespace norik::core
