// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/MistakeCategory.h"

#include <string>

#include <gtest/gtest.h>

namespace norik::core {
namespace {

struct MappingCase {
    const char* text;
    MistakeCategory expected;
};

class NormalizedTest : public testing::TestWithParam<MappingCase> {};

TEST_P(NormalizedTest, MapsLeniently) {
    EXPECT_EQ(mistake_category::normalized(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizedTest,
    testing::Values(MappingCase{"Grammar", MistakeCategory::grammar},
                    MappingCase{" word choice ", MistakeCategory::wordChoice},
                    MappingCase{"Word-Choice", MistakeCategory::wordChoice},
                    MappingCase{"spelling/grammar", MistakeCategory::grammar}, // grammar is tried first
                    MappingCase{"punctuation and register", MistakeCategory::register_},
                    MappingCase{"syntax error", MistakeCategory::syntax}, MappingCase{"typo", MistakeCategory::other},
                    MappingCase{"word_choice", MistakeCategory::other}, // underscores are not squashed
                    MappingCase{"\tSPELLING\n", MistakeCategory::spelling},
                    MappingCase{"word - choice", MistakeCategory::wordChoice},
                    MappingCase{"\u00A0Syntax\u2028", MistakeCategory::syntax}));

TEST(MistakeCategoryTest, RawValuesRoundTripExactlyAndCaseSensitively) {
    for (const MistakeCategory category : mistake_category::kAllCases) {
        EXPECT_EQ(mistake_category::fromRawValue(mistake_category::rawValue(category)), category);
    }
    EXPECT_FALSE(mistake_category::fromRawValue("Grammar").has_value());
}

} // namespace
} // namespace norik::core
