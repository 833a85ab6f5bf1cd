// SPDX-License-Identifier: GPL-3.0-or-later
// The shortcut's route in a Wayland session, on a session bus of the test's own: a mock desktop portal, or
// GNOME's schemas on a settings backend in memory.
#include "app/DesktopTrigger.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "platform/desktop/GlibTesting.h"
#include "platform/desktop/GnomeCustomShortcut.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/TestFiles.h"

namespace norik::app {
namespace {

using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;
using platform::desktop::TriggerRoute;

class DesktopTriggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tests::ScopedEnvironment::set("XDG_SESSION_TYPE", "wayland");
        // GNOME's own schemas, on a backend that forgets.
        tests::ScopedEnvironment::set("GSETTINGS_BACKEND", "memory");
        m_registry.declare(core::shortcuts::reviewSelection());
    }

    tests::ScopedEnvironment m_environment{{"XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "GSETTINGS_BACKEND"}};
    platform::desktop::PrivateSessionBus m_bus;
    tests::TemporaryFolder m_folder;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    platform::FakeHotKeyBackend m_hotKeys;
    core::shortcuts::Registry m_registry{m_settings, m_hotKeys};
};

TEST_F(DesktopTriggerTest, ThePortalBindsTheStoredShortcutAndItsPressesTrigger) {
    tests::ScopedEnvironment::set("XDG_CURRENT_DESKTOP", "KDE");
    const platform::desktop::DbusMock portal({"--template", NORIK_TEST_PORTAL_TEMPLATE, "-p", "{}"},
                                             "org.freedesktop.portal.Desktop");
    int triggers = 0;
    DesktopTrigger trigger(m_registry, nullptr, [&] { ++triggers; });
    const TriggerRouteState state = trigger.state();
    ASSERT_EQ(state.route, TriggerRoute::portal);
    // The mock assigns the preferred trigger it was sent.
    ASSERT_TRUE(platform::desktop::iterateUntil([&] { return !state.assignedTrigger().isEmpty(); }));
    EXPECT_EQ(state.assignedTrigger(), QStringLiteral("desktop: CTRL+ALT+space"));

    const platform::desktop::GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    g_dbus_connection_call(bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                           "dev.norik.Test", "Press", g_variant_new("(s)", "review-selection"), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    EXPECT_TRUE(platform::desktop::iterateUntil([&] { return triggers == 1; }));
}

TEST_F(DesktopTriggerTest, GnomesCustomShortcutIsAddedOnRequestAndFollowsTheRecordedShortcut) {
    tests::ScopedEnvironment::set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    DesktopTrigger trigger(m_registry, nullptr, [] {});
    const TriggerRouteState state = trigger.state();
    ASSERT_EQ(state.route, TriggerRoute::gnomeCustomShortcut);
    const auto gnome = platform::desktop::GnomeCustomShortcut::open();
    ASSERT_TRUE(gnome);
    m_registry.setShortcut(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift),
                           core::shortcuts::reviewSelection());
    EXPECT_FALSE(state.gnomeEntryInstalled()) << "added before the user asked";
    EXPECT_EQ(gnome->current(), std::nullopt);

    EXPECT_EQ(state.installGnomeEntry(), std::nullopt);
    EXPECT_TRUE(state.gnomeEntryInstalled());
    m_registry.setShortcut(Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option),
                           core::shortcuts::reviewSelection());
    EXPECT_EQ(gnome->current(), (platform::desktop::GnomeShortcutEntry{"Norik: review selection", "norik trigger",
                                                                       "<Control><Alt>space"}));
}

} // namespace
} // namespace norik::app
