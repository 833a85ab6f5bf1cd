// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/ShortcutBinding.h"

#include <vector>

#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Notifications.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/TestFiles.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;

class ShortcutBindingTest : public ::testing::Test {
protected:
    void postRecording(bool active) {
        registry.notifications().post(Notification{std::string(recorderActiveStatusDidChange), {{"isActive", active}}});
    }

    tests::TemporaryFolder folder;
    core::SettingsStore settings{folder.path() / "settings.json"};
    platform::FakeHotKeyBackend hotKeys;
    Registry registry{settings, hotKeys};
    const KeyboardLayout layout = KeyboardLayout::fromNames("us").value();
    RecorderContext context{registry, &layout, {}};
    const Name name{"reviewSelection", Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option)};
};

TEST_F(ShortcutBindingTest, AnActionFollowsItsNamesShortcutUntilUnbound) {
    registry.declare(name);
    QAction action;
    bindShortcut(action, context, name);
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+Space")));
    registry.setShortcut(Shortcut(Key::pageUp, ModifierFlags::control), name);
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Meta+PgUp")));
    postRecording(true);
    EXPECT_FALSE(action.shortcut().isEmpty()) << "a menu item keeps its shortcut while a recorder records";
    registry.setShortcut(std::nullopt, name);
    EXPECT_TRUE(action.shortcut().isEmpty());

    registry.setShortcut(Shortcut(Key::f5, {}), name);
    bindShortcut(action, context, std::nullopt);
    EXPECT_TRUE(action.shortcut().isEmpty());
    registry.setShortcut(Shortcut(Key::f6, {}), name);
    EXPECT_TRUE(action.shortcut().isEmpty()) << "an unbound action follows nothing";
}

TEST_F(ShortcutBindingTest, OutsideRecordingTheShortcutComesAndGoesAndStreamsEndWithTheirWidget) {
    registry.declare(name);
    QAction action;
    bindShortcutOutsideRecording(action, context, name);
    postRecording(true);
    EXPECT_TRUE(action.shortcut().isEmpty());
    postRecording(false);
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+Space")));

    std::vector<EventType> events;
    int releases = 0;
    auto widget = std::make_unique<QWidget>();
    onKeyboardShortcut(*widget, context, name, [&](EventType type) { events.push_back(type); });
    onKeyboardShortcut(*widget, context, name, EventType::keyUp, [&] { ++releases; });
    const HotKeyChord chord = chordFor(*name.defaultShortcut);
    ASSERT_TRUE(hotKeys.press(chord));
    ASSERT_TRUE(hotKeys.release(chord));
    EXPECT_EQ(events, (std::vector{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(releases, 1);
    widget.reset();
    ASSERT_TRUE(hotKeys.press(chord));
    EXPECT_EQ(events.size(), 2U);
}

} // namespace
} // namespace norik::app
