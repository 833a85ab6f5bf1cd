// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyTable.h"

#include <set>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace norik::core::shortcuts {
namespace {

TEST(KeyCodeTable, IsOneToOneBothWaysAndLeavesUnknownCodesOut) {
    std::set<std::int64_t> carbon;
    std::set<std::uint32_t> evdev;
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_TRUE(carbon.insert(pair.carbon).second) << pair.carbon;
        EXPECT_TRUE(evdev.insert(pair.evdev).second) << pair.evdev;
        EXPECT_EQ(keyForEvdevCode(pair.evdev), Key{pair.carbon});
        EXPECT_EQ(evdevCode(Key{pair.carbon}), pair.evdev);
    }
    EXPECT_EQ(evdevCode(Key{52}), std::nullopt);
    EXPECT_EQ(keyForEvdevCode(KEY_SYSRQ), std::nullopt);
}

TEST(SpecialKeys, RoundTripThroughTheirKeysAndOnlyThem) {
    std::set<std::int64_t> codes;
    for (std::size_t index = 0; index < specialKeyCount; ++index) {
        const auto special = static_cast<SpecialKey>(index);
        codes.insert(keyOf(special).rawValue);
        EXPECT_EQ(specialKey(keyOf(special)), special) << index;
    }
    EXPECT_EQ(codes.size(), specialKeyCount);
    EXPECT_EQ(specialKey(Key::a), std::nullopt);
    for (const SpecialKey keypad : {SpecialKey::keypad0, SpecialKey::keypadEnter}) {
        EXPECT_EQ(menuKeyEquivalent(keypad), std::nullopt) << "keypad keys have no menu equivalent";
    }
}

} // namespace
} // namespace norik::core::shortcuts
