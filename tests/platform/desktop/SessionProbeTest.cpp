// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SessionProbe.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/desktop/GlibTesting.h"
#include "platform/desktop/TriggerText.h"

#include "support/TrayHost.h"
#include "support/XvfbServer.h"

namespace norik::platform::desktop {
namespace {

using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;

struct EnvironmentCase {
    const char* name;
    std::map<std::string, std::string> variables;
    bool wayland;
    Desktop desktop;
};

class SessionFromEnvironment : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(SessionFromEnvironment, TellsTheSessionTypeAndDesktop) {
    const auto& variables = GetParam().variables;
    const SessionFacts facts = probeSession(
        [&](std::string_view name) -> std::optional<std::string> {
            const auto found = variables.find(std::string(name));
            return found != variables.end() ? std::optional(found->second) : std::nullopt;
        },
        nullptr, nullptr);
    EXPECT_EQ(facts.wayland, GetParam().wayland);
    EXPECT_EQ(facts.desktop, GetParam().desktop);
    EXPECT_FALSE(facts.hasTray());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionFromEnvironment,
    ::testing::Values(
        EnvironmentCase{
            "GnomeWayland", {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOME"}}, true, Desktop::gnome},
        EnvironmentCase{"GnomeNamedAmongOthers",
                        {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
                        true,
                        Desktop::gnome},
        EnvironmentCase{
            "PlasmaWayland", {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}}, true, Desktop::kde},
        EnvironmentCase{"SwayWithoutSessionTypeButWaylandDisplay",
                        {{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}},
                        true,
                        Desktop::other},
        EnvironmentCase{
            "X11SessionWithAStrayWaylandDisplay",
            {{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
            false,
            Desktop::gnome},
        EnvironmentCase{"NothingKnown", {}, false, Desktop::other}),
    [](const auto& row) { return std::string(row.param.name); });

std::optional<std::string> noEnvironment(std::string_view /*name*/) {
    return std::nullopt;
}

TEST(SessionProbe, SeesAStatusNotifierHostOnlyOnceOneIsRegistered) {
    const PrivateSessionBus bus;
    const DbusMock watcher({"org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher"},
                           "org.kde.StatusNotifierWatcher");
    const GObjectPtr<GDBusConnection> connection(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    EXPECT_FALSE(probeSession(noEnvironment, connection.get(), nullptr).statusNotifierHost);

    const GVariantPtr added(
        g_dbus_connection_call_sync(connection.get(), "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                    "org.freedesktop.DBus.Mock", "AddProperty",
                                    g_variant_new("(ssv)", "org.kde.StatusNotifierWatcher",
                                                  "IsStatusNotifierHostRegistered", g_variant_new_boolean(TRUE)),
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    ASSERT_NE(added, nullptr);
    EXPECT_TRUE(probeSession(noEnvironment, connection.get(), nullptr).hasTray());
}

TEST(SessionProbe, SeesAnXEmbedTrayOnlyWhileAPanelHoldsTheTraySelection) {
    const tests::XvfbServer server;
    auto connection = x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(connection) << connection.error();
    EXPECT_FALSE(probeSession(noEnvironment, nullptr, connection->get()).xembedTray);
    const tests::TrayHost tray(server.display());
    ASSERT_TRUE(tray.error().empty()) << tray.error();
    EXPECT_TRUE(probeSession(noEnvironment, nullptr, connection->get()).hasTray());
}

struct RouteCase {
    const char* name;
    SessionFacts facts;
    bool portal;
    bool gnomeSchemas;
    TriggerRoute route;
};

class TriggerRouteChoice : public ::testing::TestWithParam<RouteCase> {};

TEST_P(TriggerRouteChoice, PicksTheWayTheShortcutReachesNorik) {
    EXPECT_EQ(chooseTriggerRoute(GetParam().facts, GetParam().portal, GetParam().gnomeSchemas), GetParam().route);
}

const SessionFacts x11Gnome{false, Desktop::gnome};
const SessionFacts waylandGnome{true, Desktop::gnome};
const SessionFacts waylandKde{true, Desktop::kde};
const SessionFacts waylandOther{true, Desktop::other};

INSTANTIATE_TEST_SUITE_P(
    Rows, TriggerRouteChoice,
    ::testing::Values(
        RouteCase{"X11GrabsEvenWhereAPortalExists", x11Gnome, true, true, TriggerRoute::x11Grab},
        RouteCase{"PlasmaUsesThePortal", waylandKde, true, false, TriggerRoute::portal},
        RouteCase{"GnomeWithAPortalUsesIt", waylandGnome, true, true, TriggerRoute::portal},
        RouteCase{"GnomeWithoutAPortalUsesItsCustomShortcuts", waylandGnome, false, true,
                  TriggerRoute::gnomeCustomShortcut},
        RouteCase{"GnomeWithoutItsSchemasLeavesItToTheUser", waylandGnome, false, false, TriggerRoute::manualCommand},
        RouteCase{"OtherCompositorsLeaveItToTheUser", waylandOther, false, true, TriggerRoute::manualCommand}),
    [](const auto& row) { return std::string(row.param.name); });

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
        TextCase{"DefaultShortcut", "us", Shortcut(Key::space, ModifierFlags::command | ModifierFlags::option),
                 "CTRL+ALT+space", "<Control><Alt>space"},
        TextCase{"ControlIsSuperAndShiftIsKept", "us", Shortcut(Key::f1, ModifierFlags::control | ModifierFlags::shift),
                 "SHIFT+LOGO+F1", "<Shift><Super>F1"},
        TextCase{"KeyNamedByTheLayout", "de", Shortcut(Key::y, ModifierFlags::command), "CTRL+z", "<Control>z"},
        TextCase{"FnIsDropped", "us", Shortcut(Key::a, ModifierFlags::function | ModifierFlags::option), "ALT+a",
                 "<Alt>a"},
        TextCase{"KeyWithoutALinuxCode", "us", Shortcut::fromCarbon(0x7f, 0x100), std::nullopt, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::platform::desktop
