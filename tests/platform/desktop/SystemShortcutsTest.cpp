// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SystemShortcuts.h"

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace norik::platform {
namespace {

using namespace core::shortcuts;

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
} // namespace norik::platform
