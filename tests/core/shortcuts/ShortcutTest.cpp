// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Shortcut.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "core/shortcuts/HotKeyBackend.h"
#include "core/shortcuts/KeyTable.h"

namespace norik::core::shortcuts {
namespace {

const Shortcut kCtrlAltSpace(Key::space, ModifierFlags::option | ModifierFlags::command);

TEST(ShortcutTest, ModifierConversionsDropLocksAndSideBitsAndChordsUseLinuxNames) {
    for (const ModifierFlags flag : {ModifierFlags::shift, ModifierFlags::control, ModifierFlags::option,
                                     ModifierFlags::command, ModifierFlags::function}) {
        EXPECT_EQ(carbonToFlags(flagsToCarbon(flag)), flag) << flag.rawValue;
    }
    // Caps lock (0x400) and the right-hand Carbon bits go.
    EXPECT_EQ(Shortcut::fromCarbon(49, 0x400 | 0x2000 | 0x4000 | 0x8000 | kCtrlAltSpace.carbonModifiers),
              kCtrlAltSpace);
    // Ctrl and Alt are the real grabs of the X11 tests; Super and Fn are not.
    EXPECT_EQ(chordFor(Shortcut(Key::k, ModifierFlags::control | ModifierFlags::shift)).modifiers,
              (HotKeyModifiers{.shift = true, .super = true}));
    EXPECT_TRUE(chordFor(Shortcut(Key::f1, ModifierFlags::function)).modifiers.fn);
}

TEST(ShortcutTest, JsonRoundTripsAndOnlyWellFormedObjectsRead) {
    EXPECT_EQ(kCtrlAltSpace.toJson(), R"({"carbonKeyCode":49,"carbonModifiers":2304})");
    EXPECT_EQ(Shortcut::fromJson(R"({ "carbonModifiers": 256, "carbonKeyCode": 40, "extra": true })"),
              Shortcut(Key::k, ModifierFlags::command));
    for (const char* foreign : {"nonsense", R"({"carbonKeyCode":49})", R"({"carbonKeyCode":"49","carbonModifiers":0})",
                                R"({"carbonKeyCode":18446744073709551615,"carbonModifiers":0})"}) {
        EXPECT_EQ(Shortcut::fromJson(foreign), std::nullopt) << foreign;
    }
}

TEST(KeyCodeTable, IsOneToOneBothWaysAndLeavesUnknownCodesOut) {
    // A code listed twice would map back to the other pair.
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(keyForEvdevCode(pair.evdev), Key{pair.carbon});
        EXPECT_EQ(evdevCode(Key{pair.carbon}), pair.evdev);
    }
    EXPECT_EQ(evdevCode(Key{52}), std::nullopt);
    EXPECT_EQ(keyForEvdevCode(KEY_SYSRQ), std::nullopt);
}

} // namespace
} // namespace norik::core::shortcuts
