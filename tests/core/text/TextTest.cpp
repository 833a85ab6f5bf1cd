// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/text/Text.h"

#include <string>

#include <gtest/gtest.h>

namespace norik::core::text {
namespace {

TEST(TextTest, TrimRemovesUnicodeWhitespaceOnlyAtTheEndsAndPassesInvalidBytes) {
    // No-break space, ideographic space, line separator and NEL are whitespace; a zero-width joiner is not.
    EXPECT_EQ(trimmed("\u00A0\u3000\u2028 x  y\u0085\t\r\n"), "x  y");
    EXPECT_EQ(trimmed(" \U0001F469\u200D\U0001F4BB "), "\U0001F469\u200D\U0001F4BB");
    EXPECT_EQ(trimmed(" \xff\xfe "), "\xff\xfe");
}

TEST(TextTest, CountsAndCutsByGraphemeCluster) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // one cluster, five code points
    const std::string flag = "\U0001F1EB\U0001F1F7";                         // regional indicator pair
    const std::string text = family + flag + "e\u0301" + "\r\n";
    EXPECT_EQ(graphemeCount(text), 4U);
    EXPECT_EQ(prefixGraphemes(text, 2), family + flag);
    EXPECT_EQ(prefixGraphemes(text, 99), text);
}

TEST(TextTest, CaseMappingIsFullUnicode) {
    EXPECT_EQ(lowercased("ÀÉÎ ΣΑΣ"), "àéî σας"); // final sigma
    EXPECT_EQ(lowercased("\u0130"), "i\u0307");  // dotted capital I expands to two code points
    EXPECT_EQ(capitalized("ßa"), "SSa");
    EXPECT_EQ(capitalized("éCOLE"), "ÉCOLE");
}

TEST(TextTest, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("héllo \U0001F600"));
    for (const char* invalid : {"\xc3(", "\xed\xa0\x80" /* a surrogate */, "\xc0\xaf" /* overlong */}) {
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
    }
}

} // namespace
} // namespace norik::core::text
