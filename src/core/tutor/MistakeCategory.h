// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace norik::core {

enum class MistakeCategory { grammar, spelling, wordChoice, register_, punctuation, syntax, other };

namespace mistake_category {

// Every walk over the categories follows this order.
inline constexpr std::array kAllCases{
    MistakeCategory::grammar,     MistakeCategory::spelling, MistakeCategory::wordChoice, MistakeCategory::register_,
    MistakeCategory::punctuation, MistakeCategory::syntax,   MistakeCategory::other};

// The stored form, and the form shown to the model.
[[nodiscard]] std::string_view rawValue(MistakeCategory category);

// Exact, case-sensitive.
[[nodiscard]] std::optional<MistakeCategory> fromRawValue(std::string_view raw);

// The raw value in upper case: "WORD-CHOICE".
[[nodiscard]] std::string displayLabel(MistakeCategory category);

// Lenient mapping of the model's category text; unrecognised text is `other`. Never fails.
[[nodiscard]] MistakeCategory normalized(std::string_view text);

} // namespace mistake_category

} // namespace norik::core
