// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Description.h"

#include <gtest/gtest.h>

namespace norik::core::shortcuts {
namespace {

const KeyboardLayout& layout(const char* names) {
    static const KeyboardLayout us = KeyboardLayout::fromNames("us").value();
    static const KeyboardLayout german = KeyboardLayout::fromNames("de").value();
    return std::string_view(names) == "de" ? german : us;
}

TEST(DescriptionTest, KeysTypeTheCharacterOfTheLayoutWithoutModifiers) {
    EXPECT_EQ(layout("de").keyToCharacter(Key::y), "z");
    EXPECT_EQ(layout("us").keyToCharacter(Key{10}), "<") << "the ISO key of a pc105 keyboard";
    EXPECT_EQ(layout("de").keyToCharacter(Key::backtick), "^") << "a dead key shows its accent";
    for (const Key nothing : {Key::space, Key::f5, Key::keypad1, Key::shift, Key{52}}) {
        EXPECT_EQ(layout("us").keyToCharacter(nothing), std::nullopt) << nothing.rawValue;
    }
    EXPECT_FALSE(KeyboardLayout::fromNames("no-such-layout").has_value());
}

TEST(DescriptionTest, GlyphsAndWordsFollowTheLayoutAndAFixedModifierOrder) {
    const ModifierFlags all = ModifierFlags::function | ModifierFlags::command | ModifierFlags::shift |
                              ModifierFlags::option | ModifierFlags::control;
    struct Row {
        Shortcut shortcut;
        const char* layout; // null for none
        const char* glyphs;
        const char* words;
    };
    const Row rows[] = {
        {Shortcut(Key::a, all), "us", "⌃⌥⇧⌘🌐︎A", "Ctrl+Alt+Shift+Super+Fn+A"},
        {Shortcut(Key::y, ModifierFlags::command), "de", "⌘Z", "Ctrl+Z"},
        {Shortcut(Key::keypad7, ModifierFlags::option), "us", "⌥7⃣", "Alt+Num 7"},
        {Shortcut(Key::pageUp, ModifierFlags::shift), "us", "⇧⇞", "Shift+Page Up"},
        {Shortcut(Key::deleteKey, ModifierFlags::control), "us", "⌃⌫", "Super+Backspace"},
        {Shortcut(Key::k, ModifierFlags::command), nullptr, "⌘\uFFFD", nullptr},
    };
    for (const Row& row : rows) {
        const KeyboardLayout* keyboard = row.layout != nullptr ? &layout(row.layout) : nullptr;
        EXPECT_EQ(description(row.shortcut, keyboard), row.glyphs) << row.glyphs;
        if (row.words != nullptr) {
            EXPECT_EQ(wordsDescription(row.shortcut, keyboard), row.words);
        }
    }
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::k, ModifierFlags::command), &layout("us")), "k");
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::keypad3, {}), &layout("us")), std::nullopt);
}

} // namespace
} // namespace norik::core::shortcuts
