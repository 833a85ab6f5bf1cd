// SPDX-License-Identifier: GPL-3.0-or-later
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Description.h"
#include "core/shortcuts/DesktopTables.h"
#include "core/shortcuts/HotKeyBackend.h"
#include "core/shortcuts/KeyCombination.h"
#include "core/shortcuts/KeyTable.h"
#include "core/shortcuts/Registry.h"
#include "core/shortcuts/Shortcut.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/TestFiles.h"

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

const Shortcut kControlShiftK(Key::k, ModifierFlags::control | ModifierFlags::shift);
const Shortcut kF5(Key::f5, {});

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { restart(); }

    // A new process over the same settings file: nothing but the stored shortcuts survives.
    void restart() {
        m_registry.reset();
        m_registry = std::make_unique<Registry>(m_store, m_backend);
        m_changes.clear();
        const auto record = [](std::vector<std::string>& into) {
            return [&into](const Notification& n) { into.push_back(std::get<Name>(n.userInfo.at("name")).rawValue); };
        };
        m_changed = registry().notifications().addObserver(shortcutByNameDidChange, record(m_changes));
        m_failed = registry().notifications().addObserver(hotKeyRegistrationDidFail, record(m_failures));
    }

    Registry& registry() { return *m_registry; }
    bool press(const Shortcut& shortcut) { return m_backend.press(chordFor(shortcut)); }
    bool isRegistered(const Shortcut& shortcut) const { return m_backend.idOf(chordFor(shortcut)).has_value(); }

    tests::TemporaryFolder m_folder;
    SettingsStore m_store{m_folder.path() / "settings.json"};
    platform::FakeHotKeyBackend m_backend;
    std::unique_ptr<Registry> m_registry;
    NotificationCenter::Observer m_changed;
    NotificationCenter::Observer m_failed;
    std::vector<std::string> m_changes;
    std::vector<std::string> m_failures;
    const Name m_review{"reviewSelection", kCtrlAltSpace};
    const Name m_plain{"plain"};
};

TEST_F(RegistryTest, TheDefaultIsWrittenOnceAndAClearedDefaultRegistersNothing) {
    registry().declare(m_review);
    EXPECT_EQ(Shortcut::fromJson(*m_store.string("GlobalShortcuts_reviewSelection")), kCtrlAltSpace);
    EXPECT_TRUE(isRegistered(kCtrlAltSpace));
    registry().setShortcut(kF5, m_review);
    restart();
    registry().declare(m_review);
    EXPECT_TRUE(m_changes.empty());
    EXPECT_EQ(registry().getShortcut(m_review), kF5);

    registry().setShortcut(std::nullopt, m_review);
    restart();
    registry().declare(m_review);
    registry().onKeyDown(m_review, [] {});
    EXPECT_EQ(registry().getShortcut(m_review), std::nullopt);
    EXPECT_TRUE(m_backend.registered().empty());
    registry().setShortcut(kF5, m_plain);
    registry().setShortcut(std::nullopt, m_plain);
    EXPECT_EQ(m_store.value("GlobalShortcuts_plain"), std::nullopt) << "a name without a default leaves no marker";
    EXPECT_EQ(m_changes, (std::vector<std::string>{"plain", "plain"}));
}

// A pause is the recorder's test.
TEST_F(RegistryTest, OnePressRunsTheActionsOfEveryNameStoringItAndTheyMoveWithItsShortcut) {
    const Name other("other");
    registry().setShortcut(kF5, m_plain);
    registry().setShortcut(kF5, other);
    std::vector<std::string> runs;
    registry().onKeyDown(m_plain, [&] { runs.push_back("plain"); });
    registry().onKeyDown(other, [&] { runs.push_back("other"); });
    registry().onKeyUp(other, [&] { runs.push_back("other up"); });
    ASSERT_TRUE(press(kF5));
    ASSERT_TRUE(m_backend.release(chordFor(kF5)));
    EXPECT_EQ(runs, (std::vector<std::string>{"other", "plain", "other up"}));
    registry().setShortcut(kControlShiftK, m_plain);
    ASSERT_TRUE(press(kControlShiftK));
    EXPECT_EQ(runs.back(), "plain");
}

TEST_F(RegistryTest, ARefusedOrLostRegistrationIsNotifiedUnderItsNamesAndLeavesNoHotKey) {
    m_backend.refuse(chordFor(kF5), 10);
    registry().setShortcut(kF5, m_plain);
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_FALSE(registry().isRegistered(m_plain));
    // The failed shortcut still counts as asked for, so it is not retried until it is set again.
    registry().onKeyDown(m_plain, [] {});
    EXPECT_EQ(m_failures, std::vector<std::string>{"plain"});

    // Disabling releases every hot key (a menu's suspension is the X11 tests'), enabling restores their ids,
    // and a re-registration refused then drops that hot key for good.
    m_backend.accept(chordFor(kF5));
    registry().setShortcut(kControlShiftK, m_review);
    const auto id = m_backend.idOf(chordFor(kControlShiftK));
    registry().setEnabled(false);
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_FALSE(registry().handleMenuKey(kControlShiftK, EventType::keyDown)) << "hot keys off and no menu open";
    registry().setEnabled(true);
    EXPECT_EQ(m_backend.idOf(chordFor(kControlShiftK)), id);
    registry().setEnabled(false);
    m_backend.refuse(chordFor(kControlShiftK), 10);
    registry().setEnabled(true);
    m_backend.accept(chordFor(kControlShiftK));
    registry().setEnabled(false);
    registry().setEnabled(true);
    EXPECT_FALSE(isRegistered(kControlShiftK));

    // The platform dropping a hot key by itself is a failure too.
    registry().setShortcut(kCtrlAltSpace, m_review);
    ASSERT_TRUE(m_backend.lose(chordFor(kCtrlAltSpace)));
    EXPECT_FALSE(registry().isRegistered(m_review));
    // A stored value beyond the platform's 32-bit fields is refused before it reaches the platform.
    registry().setShortcut(Shortcut::fromCarbon(std::int64_t{1} << 40, 0), Name("huge"));
    EXPECT_EQ(m_failures, (std::vector<std::string>{"plain", "reviewSelection", "reviewSelection", "huge"}));
}

TEST_F(RegistryTest, ReloadingMovesHotKeysToWhatAnotherProcessStored) {
    registry().declare(m_review);
    registry().onKeyDown(m_review, [] {});
    registry().reloadFromStore();
    EXPECT_EQ(m_changes, std::vector<std::string>{"reviewSelection"}) << "an unchanged store posts nothing";
    ASSERT_TRUE(m_store.set("GlobalShortcuts_reviewSelection", kF5.toJson()));
    registry().reloadFromStore();
    EXPECT_FALSE(isRegistered(kCtrlAltSpace));
    EXPECT_TRUE(isRegistered(kF5));
    EXPECT_EQ(m_changes.size(), 2U);
}

TEST_F(RegistryTest, UseFromAnotherThreadStopsDebugBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEBUG_DEATH(std::thread([&] { registry().setShortcut(kF5, m_plain); }).join(), "own thread");
}

} // namespace
} // namespace norik::core::shortcuts
