// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HotkeyManager.h"

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"

namespace norik::app::tests {
namespace {

using core::shortcuts::chordFor;
using core::shortcuts::HotKeyChord;
using core::shortcuts::HotKeyModifiers;
using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;

// What a Linux user presses for the default: Carbon's command is Ctrl and option is Alt.
const HotKeyChord kCtrlAltSpace{Key::space, HotKeyModifiers{.ctrl = true, .alt = true}};

class HotkeyManagerTest : public testing::Test {
protected:
    QTemporaryDir m_folder;
    core::SettingsStore m_settings{std::filesystem::path(m_folder.path().toStdString()) / "settings.json"};
    platform::FakeHotKeyBackend m_backend;
    std::ostringstream m_output;
    core::shortcuts::Registry m_registry{m_settings, m_backend,
                                         [](const Shortcut& shortcut) { return shortcut.toJson(); }, m_output};
    int m_triggers = 0;
};

TEST_F(HotkeyManagerTest, StartingStoresTheDefaultAndEachPressTriggersOnce) {
    HotkeyManager manager(m_registry);
    manager.setOnTrigger([this] { ++m_triggers; });
    EXPECT_FALSE(m_backend.press(kCtrlAltSpace)) << "nothing is registered before start()";

    manager.start();
    EXPECT_EQ(m_settings.string("GlobalShortcuts_reviewSelection"), R"({"carbonKeyCode":49,"carbonModifiers":2304})");
    ASSERT_TRUE(m_backend.press(kCtrlAltSpace));
    EXPECT_EQ(m_triggers, 1);
    EXPECT_TRUE(m_backend.release(kCtrlAltSpace));
    EXPECT_EQ(m_triggers, 1) << "releasing the key does nothing";
    ASSERT_TRUE(m_backend.press(kCtrlAltSpace));
    EXPECT_EQ(m_triggers, 2);
    EXPECT_TRUE(m_output.str().empty()) << m_output.str();
}

TEST_F(HotkeyManagerTest, TheActionFollowsTheNameNotTheCombination) {
    HotkeyManager manager(m_registry);
    manager.setOnTrigger([this] { ++m_triggers; });
    manager.start();

    const Shortcut recorded(Key::r, ModifierFlags::command | ModifierFlags::shift);
    m_registry.setShortcut(recorded, HotkeyManager::reviewSelection());
    EXPECT_FALSE(m_backend.press(kCtrlAltSpace));
    ASSERT_TRUE(m_backend.press(chordFor(recorded)));
    EXPECT_EQ(m_triggers, 1);

    // A cleared shortcut stays cleared: declaring the name again at the next start does not bring back the default.
    m_registry.setShortcut(std::nullopt, HotkeyManager::reviewSelection());
    HotkeyManager restarted(m_registry);
    restarted.start();
    EXPECT_FALSE(m_backend.press(kCtrlAltSpace));
    EXPECT_FALSE(m_backend.press(chordFor(recorded)));
    EXPECT_EQ(m_triggers, 1);
}

TEST_F(HotkeyManagerTest, APressAfterTheManagerIsGoneDoesNothing) {
    auto manager = std::make_unique<HotkeyManager>(m_registry);
    manager->setOnTrigger([this] { ++m_triggers; });
    manager->start();
    manager.reset();
    EXPECT_TRUE(m_backend.press(kCtrlAltSpace)) << "the action stays registered with the module";
    EXPECT_EQ(m_triggers, 0);
}

} // namespace
} // namespace norik::app::tests
