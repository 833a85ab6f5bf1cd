// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SessionProbe.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/desktop/TriggerText.h"

#include "support/GlibSession.h"

namespace norik::platform::desktop {
namespace {

using namespace core::shortcuts;
using enum Desktop;
using enum TriggerRoute;

using Environment = std::map<std::string, std::string>;
const Environment waylandGnome{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}};
const Environment waylandKde{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}};
const Environment swayWithoutType{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}};
const Environment x11WithStrayWayland{
    {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "GNOME"}};

// Only an X11 session takes the grab, so the route also tells whether the session was seen as Wayland.
struct SessionCase {
    const char* name;
    Environment variables;
    bool portal;
    bool gnomeSchemas;
    Desktop desktop;
    TriggerRoute route;
};

class SessionFromEnvironment : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionFromEnvironment, TellsTheSessionAndPicksTheWayTheShortcutReachesNorik) {
    const SessionCase& row = GetParam();
    const SessionFacts facts = probeSession(
        [&](std::string_view name) -> std::optional<std::string> {
            const auto found = row.variables.find(std::string(name));
            return found != row.variables.end() ? std::optional(found->second) : std::nullopt;
        },
        nullptr, nullptr);
    EXPECT_EQ(facts.desktop, row.desktop);
    EXPECT_EQ(chooseTriggerRoute(facts, row.portal, row.gnomeSchemas), row.route);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionFromEnvironment,
    ::testing::Values(
        SessionCase{"GnomeUsesItsPortalWhereItHasOne", waylandGnome, true, true, gnome, portal},
        SessionCase{"GnomeWithoutAPortalUsesItsCustomShortcuts", waylandGnome, false, true, gnome, gnomeCustomShortcut},
        SessionCase{"GnomeWithoutItsSchemasLeavesItToTheUser", waylandGnome, false, false, gnome, manualCommand},
        SessionCase{"PlasmaUsesThePortal", waylandKde, true, false, kde, portal},
        SessionCase{"SwayWithoutSessionTypeLeavesItToTheUser", swayWithoutType, false, true, other, manualCommand},
        SessionCase{"X11SessionWithAStrayWaylandDisplayGrabs", x11WithStrayWayland, true, true, gnome, x11Grab}),
    [](const auto& row) { return std::string(row.param.name); });

// A panel holding the XEMBED tray selection is the end-to-end tests' tray; without one, norik opens its settings.
TEST(SessionProbe, SeesATrayOnlyOnceAStatusNotifierHostIsRegistered) {
    const auto none = [](std::string_view /*name*/) -> std::optional<std::string> { return std::nullopt; };
    const PrivateSessionBus bus;
    const DbusMock watcher({"org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher"},
                           "org.kde.StatusNotifierWatcher");
    const GObjectPtr<GDBusConnection> connection(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    EXPECT_FALSE(probeSession(none, connection.get(), nullptr).statusNotifierHost);
    const GVariantPtr added(
        g_dbus_connection_call_sync(connection.get(), "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                    "org.freedesktop.DBus.Mock", "AddProperty",
                                    g_variant_new("(ssv)", "org.kde.StatusNotifierWatcher",
                                                  "IsStatusNotifierHostRegistered", g_variant_new_boolean(TRUE)),
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    ASSERT_NE(added, nullptr);
    EXPECT_TRUE(probeSession(none, connection.get(), nullptr).hasTray());
}

struct TextCase {
    const char* name;
    const char* layout;
    Shortcut shortcut;
    std::optional<std::string> xdg;
    std::optional<std::string> gnome;
};

class ShortcutText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ShortcutText, NamesModifiersAndTheKeysKeysym) {
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                             &xkb_context_unref);
    const xkb_rule_names names{nullptr, nullptr, GetParam().layout, nullptr, nullptr};
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
    ASSERT_NE(keymap, nullptr);
    EXPECT_EQ(xdgTrigger(GetParam().shortcut, keymap.get(), 0), GetParam().xdg);
    EXPECT_EQ(gnomeAccelerator(GetParam().shortcut, keymap.get(), 0), GetParam().gnome);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ShortcutText,
    ::testing::Values(
        TextCase{"ControlIsSuperAndShiftIsKept", "us", Shortcut(Key::f1, ModifierFlags::control | ModifierFlags::shift),
                 "SHIFT+LOGO+F1", "<Shift><Super>F1"},
        TextCase{"KeyNamedByTheLayout", "de", Shortcut(Key::y, ModifierFlags::command), "CTRL+z", "<Control>z"},
        TextCase{"FnIsDropped", "us", Shortcut(Key::a, ModifierFlags::function | ModifierFlags::option), "ALT+a",
                 "<Alt>a"},
        TextCase{"KeyWithoutALinuxCode", "us", Shortcut::fromCarbon(0x7f, 0x100), std::nullopt, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::platform::desktop
