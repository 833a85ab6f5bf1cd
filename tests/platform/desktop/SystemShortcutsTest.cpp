// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SystemShortcuts.h"

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace norik::platform {
namespace {

using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;

const ModifierFlags kCtrlShift = ModifierFlags::command | ModifierFlags::shift;

bool contains(const std::vector<Shortcut>& shortcuts, const Shortcut& shortcut) {
    return std::ranges::find(shortcuts, shortcut) != shortcuts.end();
}

// The schemas compiled from tests/data/desktop, their defaults in memory, and a configuration folder of the
// test's own: nothing of the machine's desktop is read.
DesktopSources fixtureSources(const std::filesystem::path& configHome, bool desktopsPresent) {
    return DesktopSources{.configHome = configHome,
                          .schemaDirectory = NORIK_TEST_SCHEMAS,
                          .memoryBackend = true,
                          .gnome = desktopsPresent,
                          .ibus = desktopsPresent};
}

TEST(DesktopShortcutsTest, GnomeIbusAndKdeTablesAddTheirBindingsAndAbsentDesktopsAddNothing) {
    const tests::TemporaryFolder config;
    std::ofstream(config.path() / "kglobalshortcutsrc") << "[kwin]\nShow Desktop=Meta+D,Meta+D,Peek at Desktop\n";
    const auto layout = core::shortcuts::KeyboardLayout::fromNames("us").value();

    const std::vector<Shortcut> found = desktopShortcuts(fixtureSources(config.path(), true), layout);
    EXPECT_TRUE(contains(found, Shortcut(Key::f4, ModifierFlags::option))) << "window manager";
    EXPECT_TRUE(contains(found, Shortcut(Key::l, ModifierFlags::control))) << "media keys";
    EXPECT_TRUE(contains(found, Shortcut(Key::t, ModifierFlags::command | ModifierFlags::option))) << "custom";
    EXPECT_TRUE(contains(found, Shortcut(Key::space, ModifierFlags::control))) << "IBus";
    EXPECT_TRUE(contains(found, Shortcut(Key::d, ModifierFlags::control))) << "KDE";

    const tests::TemporaryFolder empty;
    EXPECT_TRUE(desktopShortcuts(fixtureSources(empty.path(), false), layout).empty());
}

// A real second X client holds a grab; the probe sees it, releases its own probes at once, and does not
// count the combination this program holds itself.
TEST(SystemShortcutsTest, AGrabOfAnotherClientAndTheServersOwnCombinationsAreReserved) {
    const tests::XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    auto other = x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(other);
    auto holder = x11::X11HotKeyBackend::create(other->get(), other->screenNumber());
    ASSERT_TRUE(holder) << holder.error();
    const Shortcut held(Key::k, kCtrlShift);
    ASSERT_TRUE((*holder)->registerHotKey(1, core::shortcuts::chordFor(held)));

    const tests::TemporaryFolder config;
    auto system = SystemShortcuts::create(server.display().c_str(), fixtureSources(config.path(), false));
    ASSERT_TRUE(system) << system.error();
    const Shortcut free(Key::j, kCtrlShift);
    EXPECT_TRUE((*system)->isReserved(held, std::nullopt));
    EXPECT_FALSE((*system)->isReserved(held, held));
    EXPECT_FALSE((*system)->isReserved(free, std::nullopt));
    EXPECT_TRUE((*system)->isReserved(Shortcut(Key::f3, ModifierFlags::command | ModifierFlags::option), std::nullopt));
    EXPECT_TRUE((*holder)->registerHotKey(2, core::shortcuts::chordFor(free))) << "the probe kept its grab";
}

} // namespace
} // namespace norik::platform
