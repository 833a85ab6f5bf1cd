// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Shortcut.h"

#include <gtest/gtest.h>

#include "core/shortcuts/HotKeyBackend.h"

namespace norik::core::shortcuts {
namespace {

const Shortcut kCtrlAltSpace(Key::space, ModifierFlags::option | ModifierFlags::command);

TEST(ShortcutTest, ModifierConversionsDropLocksAndSideBits) {
    for (const ModifierFlags flag : {ModifierFlags::shift, ModifierFlags::control, ModifierFlags::option,
                                     ModifierFlags::command, ModifierFlags::function}) {
        EXPECT_EQ(carbonToFlags(flagsToCarbon(flag)), flag) << flag.rawValue;
    }
    // Caps lock (0x400 Carbon, 0x10000 flags), the right-hand Carbon bits and the numeric pad flag go.
    EXPECT_EQ(normalizedCarbon(0x400 | 0x2000 | 0x4000 | 0x8000 | kCtrlAltSpace.carbonModifiers),
              kCtrlAltSpace.carbonModifiers);
    EXPECT_EQ(flagsToCarbon(ModifierFlags{0x10000 | 0x200000} | ModifierFlags::shift),
              flagsToCarbon(ModifierFlags::shift));
    EXPECT_EQ(Shortcut::fromCarbon(49, kCtrlAltSpace.carbonModifiers | 0x400), kCtrlAltSpace);
}

TEST(ShortcutTest, JsonRoundTripsAndOnlyWellFormedObjectsRead) {
    EXPECT_EQ(kCtrlAltSpace.toJson(), R"({"carbonKeyCode":49,"carbonModifiers":2304})");
    EXPECT_EQ(Shortcut::fromJson(R"({ "carbonModifiers": 256, "carbonKeyCode": 40, "extra": true })"),
              Shortcut(Key::k, ModifierFlags::command));
    EXPECT_EQ(Shortcut::fromJson(R"({"carbonKeyCode":40,"carbonModifiers":1024})")->carbonModifiers, 0);
    for (const char* foreign : {"nonsense", R"({"carbonKeyCode":49})", R"({"carbonKeyCode":"49","carbonModifiers":0})",
                                R"({"carbonKeyCode":18446744073709551615,"carbonModifiers":0})"}) {
        EXPECT_EQ(Shortcut::fromJson(foreign), std::nullopt) << foreign;
    }
}

TEST(ShortcutTest, ChordsUseLinuxModifierNames) {
    EXPECT_EQ(chordFor(kCtrlAltSpace), (HotKeyChord{Key::space, {.ctrl = true, .alt = true}}));
    EXPECT_EQ(chordFor(Shortcut(Key::k, ModifierFlags::control | ModifierFlags::shift)).modifiers,
              (HotKeyModifiers{.shift = true, .super = true}));
    EXPECT_TRUE(chordFor(Shortcut(Key::f1, ModifierFlags::function)).modifiers.fn);
}

} // namespace
} // namespace norik::core::shortcuts
