// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Description.h"

#include <gtest/gtest.h>

#include "core/shortcuts/Localization.h"

namespace norik::core::shortcuts {
namespace {

class DescriptionTest : public ::testing::Test {
protected:
    static const KeyboardLayout& us() {
        static const KeyboardLayout layout = KeyboardLayout::fromNames("us").value();
        return layout;
    }
    static const KeyboardLayout& german() {
        static const KeyboardLayout layout = KeyboardLayout::fromNames("de").value();
        return layout;
    }
};

const ModifierFlags kAll = ModifierFlags::function | ModifierFlags::command | ModifierFlags::shift |
                           ModifierFlags::option | ModifierFlags::control;

TEST_F(DescriptionTest, KeysTypeTheCharacterOfTheLayoutWithoutModifiers) {
    EXPECT_EQ(us().keyToCharacter(Key::y), "y");
    EXPECT_EQ(german().keyToCharacter(Key::y), "z");
    EXPECT_EQ(german().keyToCharacter(Key::semicolon), "ö");
    EXPECT_EQ(us().keyToCharacter(Key{10}), "<") << "the ISO key of a pc105 keyboard";
    EXPECT_EQ(german().keyToCharacter(Key::backtick), "^") << "a dead key shows its accent";
    for (const Key nothing : {Key::space, Key::f5, Key::keypad1, Key::returnKey, Key::shift, Key::mute, Key{52}}) {
        EXPECT_EQ(us().keyToCharacter(nothing), std::nullopt) << nothing.rawValue;
    }
    EXPECT_FALSE(KeyboardLayout::fromNames("no-such-layout").has_value());
}

TEST_F(DescriptionTest, GlyphStyleShowsModifiersInFixedOrderThenTheKey) {
    EXPECT_EQ(description(Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option), &us()), "⌥⌘Space");
    EXPECT_EQ(description(Shortcut(Key::a, kAll), &us()), "⌃⌥⇧⌘🌐︎A");
    EXPECT_EQ(description(Shortcut(Key::keypad7, ModifierFlags::option), &us()), "⌥7⃣");
    EXPECT_EQ(description(Shortcut(Key::escape, {}), nullptr), "⎋");
    EXPECT_EQ(description(Shortcut(Key::mute, ModifierFlags::command), &us()), "⌘\uFFFD");
    EXPECT_EQ(description(Shortcut(Key::k, ModifierFlags::command), nullptr), "⌘\uFFFD");
    EXPECT_EQ(description(Shortcut(Key::semicolon, ModifierFlags::command), &german()), "⌘Ö");
}

TEST_F(DescriptionTest, WordsStyleNamesKeysAsTheDesktopDoes) {
    EXPECT_EQ(wordsDescription(Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option), &us()),
              "Ctrl+Alt+Space");
    EXPECT_EQ(wordsDescription(Shortcut(Key::a, kAll), &us()), "Ctrl+Alt+Shift+Super+Fn+A");
    EXPECT_EQ(wordsDescription(Shortcut(Key::y, ModifierFlags::command), &german()), "Ctrl+Z");
    EXPECT_EQ(wordsDescription(Shortcut(Key::pageUp, ModifierFlags::shift), &us()), "Shift+Page Up");
    EXPECT_EQ(wordsDescription(Shortcut(Key::deleteKey, ModifierFlags::control), &us()), "Super+Backspace");
    EXPECT_EQ(wordsDescription(Shortcut(Key::escape, {}), &us()), "Esc");
    EXPECT_EQ(wordsDescription(Shortcut(Key::leftBracket, ModifierFlags::command), &us()), "Ctrl+[");
}

TEST_F(DescriptionTest, MenuKeyEquivalentsAndLocalisedTexts) {
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::space, {}), &us()), " ");
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::f2, {}), &us()), "\uF705");
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::k, ModifierFlags::command), &us()), "k");
    EXPECT_EQ(menuKeyEquivalent(Shortcut(Key::keypad3, {}), &us()), std::nullopt);

    for (const char* key : {"space_key", "record_shortcut", "press_shortcut", "keyboard_shortcut_used_by_menu_item",
                            "keyboard_shortcut_disallowed", "keyboard_shortcut_used_by_system",
                            "keyboard_shortcuts_can_be_changed", "ok", "force_use_shortcut"}) {
        EXPECT_NE(localized(key), key) << key << " has no text";
    }
    EXPECT_EQ(localized("unknown_key"), "unknown_key");
    const std::string menu = localizedFormat("keyboard_shortcut_used_by_menu_item", "Review selection");
    EXPECT_NE(menu.find("“Review selection”"), std::string::npos) << menu;
}

} // namespace
} // namespace norik::core::shortcuts
