// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Registry.h"

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/TestFiles.h"

namespace norik::core::shortcuts {
namespace {

const Shortcut kOptionCommandSpace(Key::space, ModifierFlags::option | ModifierFlags::command);
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
    const Name m_review{"reviewSelection", kOptionCommandSpace};
    const Name m_plain{"plain"};
};

TEST_F(RegistryTest, TheDefaultIsWrittenOnceAndAClearedDefaultRegistersNothing) {
    registry().declare(m_review);
    EXPECT_EQ(Shortcut::fromJson(*m_store.string("GlobalShortcuts_reviewSelection")), kOptionCommandSpace);
    EXPECT_TRUE(isRegistered(kOptionCommandSpace));
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
    registry().setShortcut(kOptionCommandSpace, m_review);
    ASSERT_TRUE(m_backend.lose(chordFor(kOptionCommandSpace)));
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
    EXPECT_FALSE(isRegistered(kOptionCommandSpace));
    EXPECT_TRUE(isRegistered(kF5));
    EXPECT_EQ(m_changes.size(), 2U);
}

TEST_F(RegistryTest, UseFromAnotherThreadStopsDebugBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEBUG_DEATH(std::thread([&] { registry().setShortcut(kF5, m_plain); }).join(), "own thread");
}

} // namespace
} // namespace norik::core::shortcuts
