// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Registry.h"

#include <memory>
#include <optional>
#include <sstream>
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
        m_registry = std::make_unique<Registry>(
            m_store, m_backend, [](const Shortcut& shortcut) { return shortcut.toJson(); }, m_output);
        m_changes.clear();
        m_observer = m_registry->notifications().addObserver(shortcutByNameDidChange, [this](const Notification& n) {
            m_changes.push_back(std::get<Name>(n.userInfo.at("name")).rawValue);
        });
    }

    Registry& registry() { return *m_registry; }
    bool press(const Shortcut& shortcut) { return m_backend.press(chordFor(shortcut)); }
    bool release(const Shortcut& shortcut) { return m_backend.release(chordFor(shortcut)); }
    bool isRegistered(const Shortcut& shortcut) const { return m_backend.idOf(chordFor(shortcut)).has_value(); }

    tests::TemporaryFolder m_folder;
    SettingsStore m_store{m_folder.path() / "settings.json"};
    platform::FakeHotKeyBackend m_backend;
    std::ostringstream m_output;
    std::unique_ptr<Registry> m_registry;
    NotificationCenter::Observer m_observer;
    std::vector<std::string> m_changes;
    const Name m_review{"reviewSelection", kOptionCommandSpace};
    const Name m_plain{"plain"};
};

TEST_F(RegistryTest, DeclaringWritesTheDefaultOnceAsJsonTextAndRegistersIt) {
    registry().declare(m_review);
    EXPECT_EQ(m_store.value("GlobalShortcuts_reviewSelection"),
              SettingValue(std::string(R"({"carbonKeyCode":49,"carbonModifiers":2304})")));
    EXPECT_EQ(m_changes, std::vector<std::string>{"reviewSelection"});
    EXPECT_TRUE(isRegistered(kOptionCommandSpace));
    EXPECT_EQ(registry().getShortcut(m_review), kOptionCommandSpace);

    registry().setShortcut(kF5, m_review);
    restart();
    registry().declare(m_review);
    EXPECT_TRUE(m_changes.empty());
    EXPECT_EQ(registry().getShortcut(m_review), kF5);
    EXPECT_EQ(registry().getShortcut(m_plain), std::nullopt);
}

TEST_F(RegistryTest, ClearingKeepsADisabledMarkerForNamesWithADefaultAcrossRestarts) {
    registry().declare(m_review);
    registry().setShortcut(std::nullopt, m_review);
    EXPECT_EQ(m_store.value("GlobalShortcuts_reviewSelection"), SettingValue(false));
    EXPECT_FALSE(isRegistered(kOptionCommandSpace));
    EXPECT_EQ(m_changes, (std::vector<std::string>{"reviewSelection", "reviewSelection"}));

    restart();
    registry().declare(m_review);
    registry().onKeyDown(m_review, [] {});
    EXPECT_EQ(registry().getShortcut(m_review), std::nullopt);
    EXPECT_EQ(m_store.value("GlobalShortcuts_reviewSelection"), SettingValue(false));
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_TRUE(m_changes.empty());

    registry().setShortcut(kF5, m_plain);
    registry().setShortcut(std::nullopt, m_plain);
    EXPECT_EQ(m_store.value("GlobalShortcuts_plain"), std::nullopt);
    m_changes.clear();
    registry().setShortcut(std::nullopt, m_plain);
    registry().setShortcut(std::nullopt, m_review);
    EXPECT_TRUE(m_changes.empty());
}

TEST_F(RegistryTest, ForeignStoredValuesReadAsNoShortcutAndNeverFire) {
    int runs = 0;
    const std::vector<std::pair<std::string, SettingValue>> foreign{
        {"GlobalShortcuts_number", std::int64_t{49}},
        {"GlobalShortcuts_true", true},
        {"GlobalShortcuts_text", std::string("not json")},
        {"GlobalShortcuts_partial", std::string(R"({"carbonKeyCode":49})")},
    };
    for (const auto& [key, value] : foreign) {
        ASSERT_TRUE(m_store.set(key, value));
        const Name name(key.substr(16));
        EXPECT_EQ(registry().getShortcut(name), std::nullopt) << key;
        registry().onKeyDown(name, [&] { ++runs; });
        EXPECT_FALSE(registry().isEnabled(name));
    }
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_EQ(runs, 0);
}

TEST_F(RegistryTest, ChangeNotificationsFollowEveryStoreAndStopWithTheObserver) {
    registry().setShortcut(kF5, m_plain);
    const auto firstId = m_backend.idOf(chordFor(kF5));
    registry().setShortcut(kF5, m_plain);
    EXPECT_EQ(m_changes, (std::vector<std::string>{"plain", "plain"}));
    ASSERT_TRUE(firstId && m_backend.idOf(chordFor(kF5)));
    EXPECT_NE(*m_backend.idOf(chordFor(kF5)), *firstId) << "setting the same shortcut registers it afresh";

    registry().setShortcut(kControlShiftK, m_plain);
    EXPECT_FALSE(isRegistered(kF5));
    EXPECT_TRUE(isRegistered(kControlShiftK));
    m_observer = {};
    registry().setShortcut(kF5, m_plain);
    EXPECT_EQ(m_changes.size(), 3U);
}

TEST_F(RegistryTest, OnePressRunsTheActionsOfEveryNameStoringItInOrderUnlessPaused) {
    const Name other("other");
    registry().setShortcut(kF5, m_plain);
    registry().setShortcut(kF5, other);
    std::vector<std::string> runs;
    registry().onKeyDown(m_plain, [&] { runs.push_back("plain 1"); });
    registry().onKeyDown(m_plain, [&] { runs.push_back("plain 2"); });
    registry().onKeyDown(other, [&] { runs.push_back("other"); });
    registry().onKeyUp(other, [&] { runs.push_back("other up"); });

    ASSERT_TRUE(press(kF5));
    EXPECT_EQ(runs, (std::vector<std::string>{"other", "plain 1", "plain 2"}));
    runs.clear();
    ASSERT_TRUE(release(kF5));
    EXPECT_EQ(runs, std::vector<std::string>{"other up"});

    runs.clear();
    registry().setPaused(true);
    EXPECT_TRUE(registry().isPaused());
    ASSERT_TRUE(press(kF5));
    ASSERT_TRUE(release(kF5));
    EXPECT_TRUE(runs.empty());
    registry().setPaused(false);

    // The stored choice is read at each press, so a changed shortcut moves the actions with it.
    registry().setShortcut(kControlShiftK, other);
    ASSERT_TRUE(press(kControlShiftK));
    EXPECT_EQ(runs, std::vector<std::string>{"other"});
}

TEST_F(RegistryTest, RemovingHandlersReleasesAShortcutUnlessAStreamNameStoresIt) {
    const Name streamed("streamed");
    registry().setShortcut(kF5, m_plain);
    int runs = 0;
    registry().onKeyDown(m_plain, [&] { ++runs; });
    registry().removeHandler(m_plain);
    EXPECT_FALSE(isRegistered(kF5));
    EXPECT_FALSE(registry().isEnabled(m_plain));
    registry().enable(m_plain);
    ASSERT_TRUE(press(kF5));
    EXPECT_EQ(runs, 0);

    // An ended stream leaves its name's empty entry, which still keeps the shortcut.
    registry().setShortcut(kF5, streamed);
    {
        const auto ended = registry().events(streamed, [](EventType) {});
    }
    registry().onKeyDown(m_plain, [&] { ++runs; });
    registry().removeHandler(m_plain);
    EXPECT_TRUE(isRegistered(kF5));

    registry().onKeyDown(m_plain, [&] { ++runs; });
    std::vector<EventType> streamedEvents;
    const auto stream = registry().events(streamed, [&](EventType type) { streamedEvents.push_back(type); });
    registry().removeAllHandlers();
    EXPECT_FALSE(isRegistered(kF5)) << "stream names' shortcuts are released too";
    registry().enable(streamed);
    ASSERT_TRUE(press(kF5));
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(streamedEvents, std::vector<EventType>{EventType::keyDown}) << "streams survive removeAllHandlers";
}

TEST_F(RegistryTest, StreamsDeliverTheirNamesEventsUntilDestroyed) {
    registry().setShortcut(kControlShiftK, m_plain);
    registry().disable(m_plain);
    std::vector<EventType> all;
    int keyUps = 0;
    {
        const auto stream = registry().events(m_plain, [&](EventType type) { all.push_back(type); });
        const auto ups = registry().events(EventType::keyUp, m_plain, [&] { ++keyUps; });
        EXPECT_TRUE(registry().isEnabled(m_plain)) << "opening a stream registers the shortcut";
        ASSERT_TRUE(press(kControlShiftK));
        ASSERT_TRUE(release(kControlShiftK));
    }
    ASSERT_TRUE(press(kControlShiftK));
    EXPECT_EQ(all, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(keyUps, 1);

    // A stream ended by an action of the same press is not called afterwards.
    std::optional<EventSubscription> closing;
    int closingRuns = 0;
    closing = registry().events(m_plain, [&](EventType) { ++closingRuns; });
    registry().onKeyDown(m_plain, [&] { closing.reset(); });
    ASSERT_TRUE(press(kControlShiftK));
    EXPECT_EQ(closingRuns, 0);
}

TEST_F(RegistryTest, DisablingSuspendsEveryHotKeyAndEnablingRestoresTheOldIds) {
    registry().setShortcut(kF5, m_plain);
    registry().declare(m_review);
    const auto f5Id = m_backend.idOf(chordFor(kF5));
    const auto reviewId = m_backend.idOf(chordFor(kOptionCommandSpace));
    int runs = 0;
    registry().onKeyDown(m_plain, [&] { ++runs; });

    registry().setEnabled(false);
    EXPECT_FALSE(registry().isEnabled());
    EXPECT_FALSE(registry().isEnabled(m_plain));
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_FALSE(press(kF5));

    registry().setEnabled(true);
    EXPECT_TRUE(registry().isEnabled(m_plain));
    EXPECT_EQ(m_backend.idOf(chordFor(kF5)), f5Id);
    EXPECT_EQ(m_backend.idOf(chordFor(kOptionCommandSpace)), reviewId);
    ASSERT_TRUE(press(kF5));
    EXPECT_EQ(runs, 1);
}

TEST_F(RegistryTest, ARefusedOrLostRegistrationIsPrintedAndReportedUnderItsNamesAndLeavesNoHotKey) {
    std::vector<std::string> failures;
    const auto observer = registry().notifications().addObserver(hotKeyRegistrationDidFail, [&](const Notification& n) {
        failures.push_back(std::get<Name>(n.userInfo.at("name")).rawValue);
    });
    m_backend.refuse(chordFor(kF5), 10);
    registry().setShortcut(kF5, m_plain);
    const std::string line = "Error registering hotkey {\"carbonKeyCode\":96,\"carbonModifiers\":0}: 10\n";
    EXPECT_EQ(m_output.str(), line);
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_EQ(failures, std::vector<std::string>{"plain"});
    EXPECT_FALSE(registry().isRegistered(m_plain));
    // The failed shortcut still counts as asked for, so it is not retried until it is removed.
    registry().onKeyDown(m_plain, [] {});
    EXPECT_EQ(m_output.str(), line);

    // A re-registration refused after a suspension drops that hot key for good.
    m_backend.accept(chordFor(kF5));
    registry().setShortcut(kControlShiftK, m_review);
    registry().setEnabled(false);
    m_backend.refuse(chordFor(kControlShiftK), 10);
    registry().setEnabled(true);
    m_backend.accept(chordFor(kControlShiftK));
    registry().setEnabled(false);
    registry().setEnabled(true);
    EXPECT_FALSE(isRegistered(kControlShiftK));
    EXPECT_EQ(failures, (std::vector<std::string>{"plain", "reviewSelection"}));

    // The platform dropping a hot key by itself is a failure too; setting the shortcut again retries it.
    registry().setShortcut(kOptionCommandSpace, m_review);
    EXPECT_TRUE(registry().isRegistered(m_review));
    ASSERT_TRUE(m_backend.lose(chordFor(kOptionCommandSpace)));
    EXPECT_FALSE(registry().isRegistered(m_review));
    EXPECT_EQ(failures, (std::vector<std::string>{"plain", "reviewSelection", "reviewSelection"}));

    m_output.str("");
    registry().setShortcut(Shortcut::fromCarbon(std::int64_t{1} << 40, 0), Name("huge"));
    EXPECT_TRUE(m_output.str().ends_with(": -50\n")) << m_output.str();
}

TEST_F(RegistryTest, AChangeWrittenByAnotherProcessMovesTheHotKeyOnReload) {
    registry().declare(m_review);
    registry().onKeyDown(m_review, [] {});
    registry().reloadFromStore();
    EXPECT_EQ(m_changes, std::vector<std::string>{"reviewSelection"}) << "an unchanged store posts nothing";

    ASSERT_TRUE(m_store.set("GlobalShortcuts_reviewSelection", kF5.toJson()));
    registry().reloadFromStore();
    EXPECT_FALSE(isRegistered(kOptionCommandSpace));
    EXPECT_TRUE(isRegistered(kF5));
    EXPECT_EQ(m_changes.back(), "reviewSelection");

    ASSERT_TRUE(m_store.set("GlobalShortcuts_reviewSelection", false));
    registry().reloadFromStore();
    EXPECT_TRUE(m_backend.registered().empty());
}

TEST_F(RegistryTest, ResettingRestoresDefaultsAndResetAllClearsEveryStoredShortcut) {
    registry().declare(m_review);
    registry().setShortcut(kF5, m_review);
    registry().setShortcut(kControlShiftK, m_plain);
    registry().reset(m_review);
    EXPECT_EQ(registry().getShortcut(m_review), kOptionCommandSpace);

    const Name cleared("cleared", kF5);
    registry().declare(cleared);
    registry().setShortcut(std::nullopt, cleared);
    registry().resetAll();
    EXPECT_EQ(registry().getShortcut(m_review), std::nullopt);
    EXPECT_EQ(registry().getShortcut(m_plain), std::nullopt);
    EXPECT_EQ(m_store.value("GlobalShortcuts_cleared"), SettingValue(false));
    EXPECT_TRUE(m_backend.registered().empty());
}

TEST_F(RegistryTest, WhileAMenuIsOpenKeysAreMatchedThroughTheMenuAndHotKeysAreReleased) {
    registry().setShortcut(kF5, m_plain);
    int runs = 0;
    registry().onKeyDown(m_plain, [&] { ++runs; });
    EXPECT_FALSE(registry().handleMenuKey(kF5, EventType::keyDown)) << "no menu is open";

    registry().setMenuOpen(true);
    EXPECT_TRUE(m_backend.registered().empty());
    EXPECT_TRUE(registry().handleMenuKey(kF5, EventType::keyDown));
    EXPECT_TRUE(registry().handleMenuKey(kF5, EventType::keyUp));
    EXPECT_FALSE(registry().handleMenuKey(kControlShiftK, EventType::keyDown));
    EXPECT_EQ(runs, 1);

    registry().setMenuOpen(false);
    ASSERT_TRUE(press(kF5));
    EXPECT_EQ(runs, 2);
}

TEST_F(RegistryTest, UseFromAnotherThreadStopsDebugBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEBUG_DEATH(std::thread([&] { registry().setShortcut(kF5, m_plain); }).join(), "own thread");
}

} // namespace
} // namespace norik::core::shortcuts
