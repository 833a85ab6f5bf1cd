// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/TutorService.h"

#include <cmath>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "core/text/Text.h"

namespace norik::core {
namespace {

using nlohmann::json;

std::optional<std::string> requiredString(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

// A JSON number is an integer score when it has no fractional part and fits in 64 signed bits,
// whichever way the reader happened to store it (7, 7.0 and 7e0 are the same number).
std::optional<std::int64_t> requiredInteger(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return std::nullopt;
    }
    if (it->is_number_integer() && !it->is_number_unsigned()) {
        return it->get<std::int64_t>();
    }
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value);
    }
    if (it->is_number_float()) {
        const double value = it->get<double>();
        constexpr double kLimit = 9223372036854775808.0; // 2^63, exactly representable
        if (std::trunc(value) != value || value < -kLimit || value >= kLimit) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value);
    }
    return std::nullopt;
}

std::optional<TutorResult> decode(const json& object) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    TutorResult result;
    auto language = requiredString(object, "language");
    auto corrected = requiredString(object, "corrected");
    auto improved = requiredString(object, "improved");
    const auto score = requiredInteger(object, "score");
    const auto issues = object.find("issues");
    if (!language || !corrected || !improved || !score || issues == object.end() || !issues->is_array()) {
        return std::nullopt;
    }
    result.language = std::move(*language);
    result.corrected = std::move(*corrected);
    result.improved = std::move(*improved);
    result.score = *score;
    result.issues.reserve(issues->size());
    for (const json& entry : *issues) {
        if (!entry.is_object()) {
            return std::nullopt;
        }
        auto excerpt = requiredString(entry, "excerpt");
        auto explanation = requiredString(entry, "explanation");
        auto category = requiredString(entry, "category");
        if (!excerpt || !explanation || !category) {
            return std::nullopt;
        }
        result.issues.push_back({std::move(*excerpt), std::move(*explanation), std::move(*category)});
    }
    return result;
}

} // namespace

std::expected<TutorResult, ReviewError> TutorService::parse(std::string_view reply) {
    std::string_view candidate = reply;
    const auto first = reply.find('{');
    const auto last = reply.rfind('}');
    if (first != std::string_view::npos && last != std::string_view::npos && first < last) {
        candidate = reply.substr(first, last - first + 1);
    }
    if (!text::isValidUtf8(candidate)) {
        return std::unexpected(LLMError::invalidResponse());
    }
    const json object = json::parse(candidate, nullptr, /*allow_exceptions=*/false);
    if (auto result = decode(object)) {
        return std::move(*result);
    }
    return std::unexpected(LLMError::invalidResponse());
}

std::string toJson(const TutorResult& result) {
    json issues = json::array();
    for (const auto& issue : result.issues) {
        issues.push_back({{"excerpt", issue.excerpt}, {"explanation", issue.explanation}, {"category", issue.category}});
    }
    const json object = {{"language", result.language}, {"corrected", result.corrected},
                         {"improved", result.improved}, {"issues", std::move(issues)},
                         {"score", result.score}};
    return object.dump(2, ' ', false, json::error_handler_t::replace);
}

} // namespace norik::core
