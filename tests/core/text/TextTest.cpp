// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/text/Text.h"

#include <string>

#include <gtest/gtest.h>

namespace norik::core::text {
namespace {

TEST(TextTest, TrimRemovesUnicodeWhitespaceAndNewlinesOnlyAtTheEnds) {
    EXPECT_EQ(trimmed(" \t\r\n hello  world \n"), "hello  world");
    // No-break space, ideographic space, line separator and NEL are whitespace too.
    EXPECT_EQ(trimmed("\u00A0\u3000\u2028x\u0085\u00A0"), "x");
    EXPECT_EQ(trimmed(" \n\t "), "");
    EXPECT_EQ(trimmed(""), "");
    // A zero-width joiner is not whitespace, so an emoji sequence keeps it.
    EXPECT_EQ(trimmed(" \U0001F469\u200D\U0001F4BB "), "\U0001F469\u200D\U0001F4BB");
}

TEST(TextTest, TrimPassesInvalidBytesThrough) {
    EXPECT_EQ(trimmed(" \xff\xfe "), "\xff\xfe");
}

TEST(TextTest, CountsAndCutsByGraphemeCluster) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // one cluster, five code points
    const std::string flag = "\U0001F1EB\U0001F1F7";                         // regional indicator pair
    const std::string accented = "e\u0301";                                  // e + combining acute
    const std::string text = family + flag + accented + "ab";
    EXPECT_EQ(graphemeCount(text), 5U);
    EXPECT_EQ(prefixGraphemes(text, 3), family + flag + accented);
    EXPECT_EQ(prefixGraphemes(text, 1), family);
    EXPECT_EQ(prefixGraphemes(text, 0), "");
    EXPECT_EQ(prefixGraphemes(text, 99), text);
    EXPECT_EQ(graphemeCount("\r\n"), 1U);
    EXPECT_EQ(graphemeCount(""), 0U);
}

TEST(TextTest, LowercasingIsFullUnicode) {
    EXPECT_EQ(lowercased("WORD-Choice"), "word-choice");
    EXPECT_EQ(lowercased("ÀÉÎ ΣΑΣ"), "àéî σας"); // final sigma
    EXPECT_EQ(lowercased("\u0130"), "i\u0307");  // dotted capital I expands to two code points
}

TEST(TextTest, CapitalizingTouchesOnlyTheFirstCharacter) {
    EXPECT_EQ(capitalized("space"), "Space");
    EXPECT_EQ(capitalized("ßa"), "SSa");
    EXPECT_EQ(capitalized("1x"), "1x");
    EXPECT_EQ(capitalized("éCOLE"), "ÉCOLE");
}

TEST(TextTest, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("héllo \U0001F600"));
    EXPECT_FALSE(isValidUtf8("\xc3("));
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80")); // an encoded surrogate
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));     // overlong
}

} // namespace
} // namespace norik::core::text
