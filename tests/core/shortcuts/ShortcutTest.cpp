// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Shortcut.h"

#include <gtest/gtest.h>

#include "core/shortcuts/HotKeyBackend.h"

namespace norik::core::shortcuts {
namespace {

TEST(ShortcutModifiers, ConvertBetweenEventFlagsAndCarbonBitsDroppingEverythingElse) {
    struct Row {
        ModifierFlags flag;
        std::int64_t carbonBit;
    };
    const Row rows[] = {{ModifierFlags::shift, 0x200},
                        {ModifierFlags::control, 0x1000},
                        {ModifierFlags::option, 0x800},
                        {ModifierFlags::command, 0x100},
                        {ModifierFlags::function, 0x20000}};
    for (const Row& row : rows) {
        EXPECT_EQ(flagsToCarbon(row.flag), row.carbonBit) << row.flag.rawValue;
        EXPECT_EQ(carbonToFlags(row.carbonBit), row.flag) << row.carbonBit;
    }
    // Caps lock (0x400 Carbon, 0x10000 flags), the right-hand Carbon bits and the numeric pad flag go.
    EXPECT_EQ(normalizedCarbon(0x400 | 0x2000 | 0x4000 | 0x8000 | 0x100 | 0x800), 0x900);
    EXPECT_EQ(flagsToCarbon(ModifierFlags{0x10000 | 0x200000} | ModifierFlags::shift), 0x200);
    EXPECT_EQ(Shortcut(Key::space, ModifierFlags::option | ModifierFlags::command).carbonModifiers, 2304);
    EXPECT_EQ(Shortcut::fromCarbon(49, 2304 | 0x400), Shortcut(Key::space, ModifierFlags{0x180000}));
}

TEST(ShortcutJson, WritesTheTwoMembersInOrderAndReadsOnlyWellFormedObjects) {
    const Shortcut shortcut(Key::space, ModifierFlags::option | ModifierFlags::command);
    EXPECT_EQ(shortcut.toJson(), R"({"carbonKeyCode":49,"carbonModifiers":2304})");
    EXPECT_EQ(Shortcut::fromJson(shortcut.toJson()), shortcut);
    EXPECT_EQ(Shortcut::fromJson(R"({ "carbonModifiers": 256, "carbonKeyCode": 40, "extra": true })"),
              Shortcut(Key::k, ModifierFlags::command));
    EXPECT_EQ(Shortcut::fromJson(R"({"carbonKeyCode":40,"carbonModifiers":1024})")->carbonModifiers, 0);
    for (const char* foreign : {"nonsense", R"({"carbonKeyCode":49})", R"({"carbonKeyCode":"49","carbonModifiers":0})",
                                R"({"carbonKeyCode":18446744073709551615,"carbonModifiers":0})"}) {
        EXPECT_EQ(Shortcut::fromJson(foreign), std::nullopt) << foreign;
    }
}

TEST(ShortcutValues, NamesAreEqualByRawValueAloneAndChordsUseLinuxModifierNames) {
    EXPECT_EQ(Name("a", Shortcut(Key::a, {})), Name("a"));
    EXPECT_NE(Name("a"), Name("b"));
    EXPECT_NE(Shortcut(Key::a, ModifierFlags::shift), Shortcut(Key::a, {}));

    const HotKeyChord chord = chordFor(Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option));
    EXPECT_EQ(chord, (HotKeyChord{Key::space, {.ctrl = true, .alt = true}}));
    EXPECT_EQ(chordFor(Shortcut(Key::k, ModifierFlags::control | ModifierFlags::shift)).modifiers,
              (HotKeyModifiers{.shift = true, .super = true}));
    EXPECT_TRUE(chordFor(Shortcut(Key::f1, ModifierFlags::function)).modifiers.fn);
}

} // namespace
} // namespace norik::core::shortcuts
