// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyCombination.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/shortcuts/Description.h"
#include "core/shortcuts/DesktopTables.h"

namespace norik::core::shortcuts {
namespace {

const ModifierFlags kCtrl = ModifierFlags::command;
const ModifierFlags kAlt = ModifierFlags::option;
const ModifierFlags kSuper = ModifierFlags::control;

const KeyboardLayout& us() {
    static const KeyboardLayout layout = KeyboardLayout::fromNames("us").value();
    return layout;
}

// Any case and order, punctuation, Shift+A refused and F5 alone: the command line's and the recorder's rows.
TEST(KeyCombinationTest, WordsReadAsNorikWritesThemInAnyCaseAndOrder) {
    const std::tuple<const char*, const char*, std::optional<Shortcut>> rows[] = {
        {"Super and a function key", "Super+Shift+F12", Shortcut(Key::f12, kSuper | ModifierFlags::shift)},
        {"plus is the key after the last plus", "Ctrl++", Shortcut(Key::equal, kCtrl)},
        {"a two-word key name", "Ctrl+Page Up", Shortcut(Key::pageUp, kCtrl)},
        {"an unknown key", "Ctrl+Frob", std::nullopt},
        {"an unknown modifier", "Hyper+A", std::nullopt},
        {"no key after the modifiers", "Ctrl+Alt", std::nullopt},
    };
    for (const auto& [behaviour, text, expected] : rows) {
        const auto parsed = parseWords(text, us());
        EXPECT_EQ(parsed ? std::optional(*parsed) : std::nullopt, expected) << behaviour;
    }
    EXPECT_FALSE(refusalOf(Shortcut(Key::a, kSuper)));
    EXPECT_EQ(parseAccelerator("<Hyper>t", us()), std::nullopt);
}

// What each desktop writes, trimmed to a few entries, with the entries a reader must leave out.
TEST(DesktopTablesTest, EachDesktopsFileGivesItsBoundCombinations) {
    const std::string kde = "[kwin]\n_k_friendly_name=KWin\nWindow Close=Alt+F4\tMeta+Q,Alt+F4,Close Window\n"
                            "Expose=none,Ctrl+F9,Toggle Present Windows\n[org.kde.konsole.desktop]\n"
                            "_launch=Ctrl+Alt+T,Ctrl+Alt+T,Konsole\n";
    EXPECT_EQ(kdeGlobalShortcuts(kde, us()),
              (std::vector{Shortcut(Key::f4, kAlt), Shortcut(Key::q, kSuper), Shortcut(Key::t, kCtrl | kAlt)}));

    const std::string xfce = R"(<channel name="xfce4-keyboard-shortcuts" version="1.0">
  <property name="commands" type="empty"><property name="default" type="empty">
      <property name="&lt;Alt&gt;F2" type="string" value="xfce4-appfinder"/>
  </property><property name="custom" type="empty">
      <property name="&lt;Primary&gt;&lt;Alt&gt;l" type="string" value="xflock4"/>
      <property name="override" type="bool" value="true"/>
  </property></property>
  <property name="xfwm4" type="empty"><property name="custom" type="empty">
      <property name="&lt;Super&gt;Tab" type="string" value="switch_window_key"/>
      <property name="&lt;Alt&gt;F7" type="string" value=""/>
  </property></property>
</channel>)";
    EXPECT_EQ(xfceKeyboardShortcuts(xfce, us()),
              (std::vector{Shortcut(Key::l, kCtrl | kAlt), Shortcut(Key::tab, kSuper)}));
    const std::string fcitx = "[Hotkey]\nEnumerateWithTriggerKeys=True\n[Hotkey/TriggerKeys]\n0=Control+space\n"
                              "1=Super+space\n[Behavior]\n0=Control+Alt+x\n";
    EXPECT_EQ(fcitx5HotKeys(fcitx, us()), (std::vector{Shortcut(Key::space, kCtrl), Shortcut(Key::space, kSuper)}));
}

// How a layout switch renames keys is the X11 tests' check, on a real server.
TEST(DescriptionTest, KeysTypeTheLayoutsCharacterAndWordsFollowAFixedModifierOrder) {
    EXPECT_EQ(us().keyToCharacter(Key{10}), "<") << "the ISO key of a pc105 keyboard";
    EXPECT_EQ(KeyboardLayout::fromNames("de")->keyToCharacter(Key::backtick), "^") << "a dead key shows its accent";
    for (const Key nothing : {Key::space, Key::f5, Key::keypad1, Key::shift, Key{52}}) {
        EXPECT_EQ(us().keyToCharacter(nothing), std::nullopt) << nothing.rawValue;
    }
    EXPECT_FALSE(KeyboardLayout::fromNames("no-such-layout").has_value());

    const ModifierFlags all = ModifierFlags::function | ModifierFlags::command | ModifierFlags::shift |
                              ModifierFlags::option | ModifierFlags::control;
    const std::pair<Shortcut, const char*> rows[] = {
        {Shortcut(Key::a, all), "Ctrl+Alt+Shift+Super+Fn+A"},
        {Shortcut(Key::keypad7, ModifierFlags::option), "Alt+Num 7"},
        {Shortcut(Key::pageUp, ModifierFlags::shift), "Shift+Page Up"},
        {Shortcut(Key::deleteKey, ModifierFlags::control), "Super+Backspace"},
    };
    for (const auto& [shortcut, words] : rows) {
        EXPECT_EQ(wordsDescription(shortcut, &us()), words);
    }
    EXPECT_EQ(wordsDescription(Shortcut(Key::k, ModifierFlags::command), nullptr), "Ctrl+\uFFFD") << "no layout";
}

} // namespace
} // namespace norik::core::shortcuts
