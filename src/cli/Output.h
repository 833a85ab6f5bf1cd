// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/Terminal.h"
#include "core/history/HistoryRecords.h"
#include "core/tutor/TutorResult.h"

// What the commands print: readable text for people and JSON for scripts.
namespace norik::cli {

// "GRAMMAR" for whatever the model or the store calls the category, as the review panel labels it.
[[nodiscard]] std::string categoryLabel(std::string_view category);

// Score, language, the corrected and the more natural text, then what to learn from each issue (left out
// when there are none), then the note that the text was cut, if any.
[[nodiscard]] std::string formatReview(const core::TutorResult& result, const std::optional<std::string>& note,
                                       const Style& style);

// The first line of `text`, at most `characters` characters (grapheme clusters), with "…" when anything
// was left out.
[[nodiscard]] std::string firstLineShortened(std::string_view text, std::size_t characters);

// "2025-03-14 09:26" in the local time zone.
[[nodiscard]] std::string localDateTime(core::Timestamp timestamp);
// "2025-03-14T08:26:41.123456Z".
[[nodiscard]] std::string utcTimestamp(core::Timestamp timestamp);

// One line per review: local date and time, language, score and the start of the source.
[[nodiscard]] std::string formatHistory(std::span<const core::StoredCorrection> corrections, const Style& style);
[[nodiscard]] std::string historyJson(std::span<const core::StoredCorrection> corrections);

// One line per category: its label and its count, in the order given.
[[nodiscard]] std::string formatStats(std::span<const core::CategoryCount> counts, const Style& style);
[[nodiscard]] std::string statsJson(std::span<const core::CategoryCount> counts);

} // namespace norik::cli
