// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/MistakeCategory.h"

#include <algorithm>

#include "core/text/Text.h"

namespace norik::core::mistake_category {

std::string_view rawValue(MistakeCategory category) {
    switch (category) {
    case MistakeCategory::grammar:
        return "grammar";
    case MistakeCategory::spelling:
        return "spelling";
    case MistakeCategory::wordChoice:
        return "word-choice";
    case MistakeCategory::register_:
        return "register";
    case MistakeCategory::punctuation:
        return "punctuation";
    case MistakeCategory::syntax:
        return "syntax";
    case MistakeCategory::other:
        return "other";
    }
    return "other";
}

std::optional<MistakeCategory> fromRawValue(std::string_view raw) {
    for (const MistakeCategory category : kAllCases) {
        if (rawValue(category) == raw) {
            return category;
        }
    }
    return std::nullopt;
}

std::string displayLabel(MistakeCategory category) {
    std::string label(rawValue(category));
    std::ranges::transform(label, label.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
    return label;
}

MistakeCategory normalized(std::string_view text) {
    const std::string folded = text::trimmed(text::lowercased(text));
    if (const auto exact = fromRawValue(folded)) {
        return *exact;
    }
    std::string squashed = folded;
    std::erase(squashed, '-');
    std::erase(squashed, ' ');
    for (const MistakeCategory category : kAllCases) {
        if (category == MistakeCategory::other) {
            continue;
        }
        std::string needle(rawValue(category));
        std::erase(needle, '-');
        if (squashed.find(needle) != std::string::npos) {
            return category;
        }
    }
    return MistakeCategory::other;
}

} // namespace norik::core::mistake_category
