// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/desktop/SessionProbe.h"
#include "platform/desktop/SystemShortcuts.h"
#include "platform/desktop/TriggerText.h"

#include "support/GlibSession.h"
#include "support/TestFiles.h"
#include "support/XvfbServer.h"

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

// The schemas compiled from tests/data/desktop, their defaults in memory, and a configuration folder of the
// test's own: nothing of the machine's desktop is read.
DesktopSources fixtureSources(const std::filesystem::path& configHome, bool desktopsPresent) {
    return DesktopSources{.configHome = configHome,
                          .schemaDirectory = NORIK_TEST_SCHEMAS,
                          .memoryBackend = true,
                          .gnome = desktopsPresent,
                          .ibus = desktopsPresent};
}

// Each desktop's table from where that desktop keeps it; the parsers themselves are tested in the core.
TEST(DesktopShortcutsTest, EachDesktopsTableAddsItsBindingsAndAbsentDesktopsAddNothing) {
    const tests::TemporaryFolder config;
    tests::writeFile(config.path() / "kglobalshortcutsrc", "[kwin]\nShow Desktop=Meta+D,Meta+D,Peek at Desktop\n");
    tests::writeFile(config.path() / "xfce4/xfconf/xfce-perchannel-xml/xfce4-keyboard-shortcuts.xml",
                     R"(<channel name="xfce4-keyboard-shortcuts"><property name="commands"><property name="custom">)"
                     R"(<property name="&lt;Alt&gt;F2" type="string" value="xfce4-appfinder"/>)"
                     "</property></property></channel>");
    tests::writeFile(config.path() / "fcitx5/config", "[Hotkey/TriggerKeys]\n0=Shift+Super+space\n");
    const auto layout = KeyboardLayout::fromNames("us").value();

    const std::vector<Shortcut> found = desktopShortcuts(fixtureSources(config.path(), true), layout);
    for (const auto& [shortcut, table] :
         {std::pair{Shortcut(Key::f4, ModifierFlags::option), "GNOME's window manager"},
          std::pair{Shortcut(Key::l, ModifierFlags::control), "GNOME's media keys"},
          std::pair{Shortcut(Key::t, ModifierFlags::command | ModifierFlags::option), "GNOME's custom shortcuts"},
          std::pair{Shortcut(Key::space, ModifierFlags::control), "IBus"},
          std::pair{Shortcut(Key::d, ModifierFlags::control), "KDE"},
          std::pair{Shortcut(Key::f2, ModifierFlags::option), "Xfce"},
          std::pair{Shortcut(Key::space, ModifierFlags::shift | ModifierFlags::control), "fcitx5"}}) {
        EXPECT_NE(std::ranges::find(found, shortcut), found.end()) << table;
    }
    const tests::TemporaryFolder empty;
    EXPECT_TRUE(desktopShortcuts(fixtureSources(empty.path(), false), layout).empty());
}

// Another client's grab, reserved unless it is the own shortcut, is the recorder's and the command line's check,
// with a real second X client; here, the server's own combinations, and that a probe releases its grab at once.
TEST(SystemShortcutsTest, TheServersOwnCombinationsAreReservedAndAProbeKeepsNoGrab) {
    const tests::XvfbServer server;
    auto other = x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(other) << other.error();
    auto holder = x11::X11HotKeyBackend::create(other->get(), other->screenNumber());
    ASSERT_TRUE(holder) << holder.error();

    const tests::TemporaryFolder config;
    auto system = SystemShortcuts::create(server.display().c_str(), fixtureSources(config.path(), false));
    ASSERT_TRUE(system) << system.error();
    const Shortcut free(Key::j, ModifierFlags::command | ModifierFlags::shift);
    EXPECT_FALSE((*system)->isReserved(free, std::nullopt));
    EXPECT_TRUE((*system)->isReserved(Shortcut(Key::f3, ModifierFlags::command | ModifierFlags::option), std::nullopt));
    EXPECT_TRUE((*holder)->registerHotKey(1, chordFor(free))) << "the probe kept its grab";
}

} // namespace
} // namespace norik::platform::desktop
