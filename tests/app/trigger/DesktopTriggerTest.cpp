// SPDX-License-Identifier: GPL-3.0-or-later
// The shortcut's route in a Wayland session, on a session bus of the test's own: a mock desktop portal, or
// GNOME's schemas on a settings backend in memory.
#include "app/DesktopTrigger.h"

#include <array>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "platform/desktop/GnomeCustomShortcut.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/GlibSession.h"
#include "support/TestFiles.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;
using namespace platform::desktop;

class DesktopTriggerTest : public ::testing::Test {
protected:
    void record(const Shortcut& shortcut) { m_registry.setShortcut(shortcut, reviewSelection()); }
    void SetUp() override {
        tests::ScopedEnvironment::set("XDG_SESSION_TYPE", "wayland");
        tests::ScopedEnvironment::set("GSETTINGS_BACKEND", "memory");
        m_registry.declare(reviewSelection());
        m_registry.onKeyDown(reviewSelection(), [] {});
    }

    tests::ScopedEnvironment m_environment{{"XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "GSETTINGS_BACKEND"}};
    PrivateSessionBus m_bus;
    tests::TemporaryFolder m_folder;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    platform::FakeHotKeyBackend m_hotKeys;
    Registry m_registry{m_settings, m_hotKeys};
};

TEST_F(DesktopTriggerTest, ThePortalBindsTheStoredShortcutInsteadOfTheGrabAndOnlyItsPressesTrigger) {
    tests::ScopedEnvironment::set("XDG_CURRENT_DESKTOP", "KDE");
    const DbusMock portal({"--template", NORIK_TEST_PORTAL_TEMPLATE}, "org.freedesktop.portal.Desktop");
    int triggers = 0;
    DesktopTrigger trigger(m_registry, nullptr, [&] { ++triggers; });
    const TriggerRouteState state = trigger.state();
    ASSERT_EQ(state.route, TriggerRoute::portal);
    ASSERT_TRUE(iterateUntil([&] { return state.assignedTrigger() == "desktop: CTRL+ALT+space"; }));
    EXPECT_TRUE(m_hotKeys.registered().empty()) << "the grab stayed beside the desktop's binding";

    // The mock announces the press to another application's session before Norik's, and answers the call after
    // both: by then only Norik's has triggered.
    bool answered = false;
    const GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    g_dbus_connection_call(
        bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "dev.norik.Test", "Press",
        g_variant_new("(s)", "review-selection"), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        [](GObject*, GAsyncResult*, gpointer flag) { *static_cast<bool*>(flag) = true; }, &answered);
    ASSERT_TRUE(iterateUntil([&] { return answered; }));
    EXPECT_EQ(triggers, 1);

    // A recorded shortcut is offered to the desktop anew, and its answer is what the settings show.
    record(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift));
    EXPECT_TRUE(iterateUntil([&] { return state.assignedTrigger() == "desktop: CTRL+SHIFT+k"; }));
    EXPECT_TRUE(m_hotKeys.registered().empty());
}

// GNOME lists a custom entry of the user's before Norik's is added; Norik's goes after it, and the user's keeps
// its binding.
TEST_F(DesktopTriggerTest, GnomesCustomShortcutReplacesTheGrabOnceAddedAndFollowsTheRecordedShortcut) {
    tests::ScopedEnvironment::set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const char* custom0 = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
    const GObjectPtr<GSettings> list(g_settings_new("org.gnome.settings-daemon.plugins.media-keys"));
    const GObjectPtr<GSettings> usersOwn(
        g_settings_new_with_path("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", custom0));
    g_settings_set_string(usersOwn.get(), "binding", "<Super>t");
    g_settings_set_strv(list.get(), "custom-keybindings", std::array<const gchar*, 2>{custom0, nullptr}.data());

    DesktopTrigger trigger(m_registry, nullptr, [] {});
    const TriggerRouteState state = trigger.state();
    ASSERT_EQ(state.route, TriggerRoute::gnomeCustomShortcut);
    const auto gnome = GnomeCustomShortcut::open();
    ASSERT_TRUE(gnome);
    record(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift));
    EXPECT_EQ(gnome->current(), std::nullopt) << "added before the user asked";
    EXPECT_EQ(m_hotKeys.registered().size(), 1U) << "until GNOME runs it, only the grab reaches Norik";

    EXPECT_EQ(state.installGnomeEntry(), std::nullopt);
    record(Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option));
    EXPECT_EQ(gnome->current(),
              (GnomeShortcutEntry{"Norik: review selection", "norik trigger", "<Control><Alt>space"}));
    g_auto(GStrv) listed = g_settings_get_strv(list.get(), "custom-keybindings");
    EXPECT_EQ(std::vector<std::string>(listed, listed + g_strv_length(listed)),
              (std::vector<std::string>{custom0, GnomeCustomShortcut::path}));
    g_autofree gchar* binding = g_settings_get_string(usersOwn.get(), "binding");
    EXPECT_STREQ(binding, "<Super>t");
    EXPECT_TRUE(m_hotKeys.registered().empty()) << "the grab stayed beside GNOME's binding";

    // The user takes the entry out in GNOME's settings: the grab is all that is left, so it comes back.
    g_settings_reset(list.get(), "custom-keybindings");
    EXPECT_TRUE(iterateUntil([&] { return m_hotKeys.registered().size() == 1; }));
}

} // namespace
} // namespace norik::app
