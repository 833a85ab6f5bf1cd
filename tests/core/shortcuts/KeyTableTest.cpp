// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyTable.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace norik::core::shortcuts {
namespace {

TEST(KeyCodeTable, IsOneToOneBothWaysAndLeavesUnknownCodesOut) {
    // A code listed twice would map back to the other pair.
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(keyForEvdevCode(pair.evdev), Key{pair.carbon});
        EXPECT_EQ(evdevCode(Key{pair.carbon}), pair.evdev);
    }
    EXPECT_EQ(evdevCode(Key{52}), std::nullopt);
    EXPECT_EQ(keyForEvdevCode(KEY_SYSRQ), std::nullopt);
}

TEST(SpecialKeys, RoundTripThroughTheirKeysAndOnlyThem) {
    for (std::size_t index = 0; index < specialKeyCount; ++index) {
        EXPECT_EQ(specialKey(keyOf(static_cast<SpecialKey>(index))), static_cast<SpecialKey>(index)) << index;
    }
    EXPECT_EQ(specialKey(Key::a), std::nullopt);
    EXPECT_EQ(menuKeyEquivalent(SpecialKey::keypadEnter), std::nullopt) << "keypad keys have no menu equivalent";
}

} // namespace
} // namespace norik::core::shortcuts
