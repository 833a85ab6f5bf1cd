// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Output.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

#include <nlohmann/json.hpp>

#include "core/text/Text.h"
#include "core/tutor/MistakeCategory.h"

namespace norik::cli {

namespace {

using nlohmann::json;

constexpr std::size_t kHistorySourceCharacters = 60;

// Every line of `text` indented, so that a multi-line text stays visibly inside its section.
std::string indented(std::string_view text, std::string_view indent) {
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        result.append(indent).append(text.substr(start, end - start)).append("\n");
        if (end == std::string_view::npos) {
            return result;
        }
        start = end + 1;
    }
}

std::string scoreText(std::int64_t score) {
    return std::to_string(score) + "/10";
}

std::string dumped(const json& value) {
    return value.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::time_t wholeSeconds(core::Timestamp timestamp) {
    return std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(timestamp));
}

std::string formatted(const std::tm& time, const char* format) {
    std::array<char, 64> buffer{};
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), format, &time);
    return {buffer.data(), length};
}

std::string padded(std::string text, std::size_t width) {
    const std::size_t length = core::text::graphemeCount(text);
    if (length < width) {
        text.append(width - length, ' ');
    }
    return text;
}

} // namespace

std::string categoryLabel(std::string_view category) {
    return core::mistake_category::displayLabel(core::mistake_category::normalized(category));
}

std::string formatReview(const core::TutorResult& result, const std::optional<std::string>& note, const Style& style) {
    std::string text;
    text.append(style.heading("Score")).append("     ").append(style.score(result.score, scoreText(result.score)));
    text.append("\n").append(style.heading("Language")).append("  ").append(result.language).append("\n");
    text.append("\n").append(style.heading("Corrected")).append("\n").append(indented(result.corrected, "  "));
    text.append("\n").append(style.heading("More natural")).append("\n").append(indented(result.improved, "  "));
    if (!result.issues.empty()) {
        text.append("\n").append(style.heading("What to learn")).append("\n");
        for (const core::TutorResult::Issue& issue : result.issues) {
            text.append("  • ").append(style.category(categoryLabel(issue.category)));
            text.append("  \"").append(issue.excerpt).append("\"\n");
            text.append(indented(issue.explanation, "    "));
        }
    }
    if (note) {
        text.append("\n").append(style.dim(*note)).append("\n");
    }
    return text;
}

std::string firstLineShortened(std::string_view text, std::size_t characters) {
    const std::string trimmed = core::text::trimmed(text);
    const std::size_t lineEnd = trimmed.find_first_of("\r\n");
    const std::string_view line = std::string_view(trimmed).substr(0, lineEnd);
    std::string shortened = core::text::prefixGraphemes(line, characters);
    if (shortened.size() < line.size() || lineEnd != std::string::npos) {
        shortened = core::text::trimmed(shortened) + "…";
    }
    return shortened;
}

std::string localDateTime(core::Timestamp timestamp) {
    const std::time_t seconds = wholeSeconds(timestamp);
    std::tm local{};
    localtime_r(&seconds, &local);
    return formatted(local, "%Y-%m-%d %H:%M");
}

std::string utcTimestamp(core::Timestamp timestamp) {
    const std::time_t seconds = wholeSeconds(timestamp);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    const auto micros = (timestamp - std::chrono::floor<std::chrono::seconds>(timestamp)).count();
    std::string fraction = std::to_string(micros);
    fraction.insert(0, 6 - fraction.size(), '0');
    return formatted(utc, "%Y-%m-%dT%H:%M:%S") + "." + fraction + "Z";
}

std::string formatHistory(std::span<const core::StoredCorrection> corrections, const Style& style) {
    std::size_t languageWidth = 0;
    std::size_t scoreWidth = 0;
    for (const core::StoredCorrection& correction : corrections) {
        languageWidth = std::max(languageWidth, core::text::graphemeCount(correction.language));
        scoreWidth = std::max(scoreWidth, scoreText(correction.score).size());
    }
    std::string text;
    for (const core::StoredCorrection& correction : corrections) {
        const std::string score = scoreText(correction.score);
        text.append(style.dim(localDateTime(correction.createdAt))).append("  ");
        text.append(padded(correction.language, languageWidth)).append("  ");
        text.append(scoreWidth - score.size(), ' ').append(style.score(correction.score, score)).append("  ");
        text.append(firstLineShortened(correction.source, kHistorySourceCharacters)).append("\n");
    }
    return text;
}

std::string historyJson(std::span<const core::StoredCorrection> corrections) {
    json list = json::array();
    for (const core::StoredCorrection& correction : corrections) {
        list.push_back({{"createdAt", utcTimestamp(correction.createdAt)},
                        {"language", correction.language},
                        {"score", correction.score},
                        {"source", correction.source},
                        {"corrected", correction.corrected},
                        {"improved", correction.improved}});
    }
    return dumped(list);
}

std::string formatStats(std::span<const core::CategoryCount> counts, const Style& style) {
    std::size_t labelWidth = 0;
    std::size_t countWidth = 0;
    for (const core::CategoryCount& count : counts) {
        labelWidth = std::max(labelWidth, categoryLabel(count.category).size());
        countWidth = std::max(countWidth, std::to_string(count.count).size());
    }
    std::string text;
    for (const core::CategoryCount& count : counts) {
        const std::string number = std::to_string(count.count);
        text.append(style.category(padded(categoryLabel(count.category), labelWidth))).append("  ");
        text.append(countWidth - number.size(), ' ').append(number).append("\n");
    }
    return text;
}

std::string statsJson(std::span<const core::CategoryCount> counts) {
    json list = json::array();
    for (const core::CategoryCount& count : counts) {
        list.push_back(
            {{"category", count.category}, {"count", count.count}, {"lastSeen", utcTimestamp(count.lastSeen)}});
    }
    return dumped(list);
}

} // namespace norik::cli
