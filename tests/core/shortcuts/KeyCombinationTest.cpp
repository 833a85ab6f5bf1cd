// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyCombination.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

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

struct WordsRow {
    const char* name;
    const char* text;
    std::optional<Shortcut> expected;
};

class WordsTest : public ::testing::TestWithParam<WordsRow> {};

TEST_P(WordsTest, ReadsAsNorikWritesInAnyCaseAndOrder) {
    const auto parsed = parseWords(GetParam().text, us());
    EXPECT_EQ(parsed ? std::optional(*parsed) : std::nullopt, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WordsTest,
    ::testing::Values(WordsRow{"ModifiersThenNamedKey", "Ctrl+Alt+Space", Shortcut(Key::space, kCtrl | kAlt)},
                      WordsRow{"AnyCaseAnyOrder", "alt+CTRL+space", Shortcut(Key::space, kCtrl | kAlt)},
                      WordsRow{"SuperAndFunctionKey", "Super+Shift+F12",
                               Shortcut(Key::f12, kSuper | ModifierFlags::shift)},
                      WordsRow{"PunctuationByCharacter", "Ctrl+,", Shortcut(Key::comma, kCtrl)},
                      WordsRow{"PlusIsTheKeyAfterTheLastPlus", "Ctrl++", Shortcut(Key::equal, kCtrl)},
                      WordsRow{"TwoWordKeyName", "Ctrl+Page Up", Shortcut(Key::pageUp, kCtrl)},
                      WordsRow{"KeysymNameOfKde", "Meta+Ctrl+Alt+T", Shortcut(Key::t, kSuper | kCtrl | kAlt)},
                      WordsRow{"UnknownKey", "Ctrl+Frob", std::nullopt},
                      WordsRow{"UnknownModifier", "Hyper+A", std::nullopt},
                      WordsRow{"NoKeyAfterModifiers", "Ctrl+Alt", std::nullopt}),
    [](const ::testing::TestParamInfo<WordsRow>& row) { return std::string(row.param.name); });

TEST(KeyCombinationTest, OnlyFunctionKeysStandWithoutCtrlAltOrSuper) {
    EXPECT_TRUE(refusalOf(Shortcut(Key::a, ModifierFlags::shift)));
    EXPECT_FALSE(refusalOf(Shortcut(Key::f5, {})));
    EXPECT_FALSE(refusalOf(Shortcut(Key::a, kSuper)));
    EXPECT_EQ(parseAccelerator("<Primary><Alt>t", us()), Shortcut(Key::t, kCtrl | kAlt));
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
    EXPECT_TRUE(kdeGlobalShortcuts("<not an ini file>", us()).empty());
}

} // namespace
} // namespace norik::core::shortcuts
