// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>

#include "CliTestSupport.h"

#include "platform/instance/InstanceFolder.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/InstanceServer.h"
#include "platform/x11/X11HotKeyBackend.h"
#include "platform/x11/XcbHandles.h"

#include "support/XvfbServer.h"

namespace norik::test {
namespace {

using ShortcutTest = CliTest;

TEST_F(ShortcutTest, WithoutADisplayWordsAreReadStoredAndRefusedByTheRecordersRules) {
    run({
        {{"shortcut"}, 0, "Ctrl+Alt+Space\n"},
        {{"shortcut", "set", "alt+CTRL+k"}, 0, "Ctrl+Alt+K\n"},
        {{"shortcut", "set", "Shift+A"}, 2, ""},
        {{"shortcut", "set", "Ctrl+,", "--force"}, 1, ""}, // the settings menu item's: not even with --force
        {{"shortcut", "set", "F5"}, 0, "F5\n"},
        {{"shortcut", "clear"}, 0, ""},
        {{"shortcut"}, 0, "(none)\n"},
    });
}

// A real second X client holds a grab of Ctrl+Alt+G.
TEST_F(ShortcutTest, WithADisplayACombinationTheSystemUsesNeedsForce) {
    const tests::XvfbServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    m_environment["DISPLAY"] = server.display();
    auto holder = platform::x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(holder);
    auto grabs = platform::x11::X11HotKeyBackend::create(holder->get(), holder->screenNumber());
    ASSERT_TRUE(grabs) << grabs.error();
    using namespace core::shortcuts;
    ASSERT_TRUE(
        (*grabs)->registerHotKey(1, chordFor(Shortcut(Key::g, ModifierFlags::command | ModifierFlags::option))));
    run({
        {{"shortcut", "set", "Ctrl+Alt+G"}, 1, ""},
        {{"shortcut"}, 0, "Ctrl+Alt+Space\n"},
        {{"shortcut", "set", "Ctrl+Alt+G", "--force"}, 0, "Ctrl+Alt+G\n"},
        {{"shortcut", "set", "Ctrl+Alt+G"}, 0, "Ctrl+Alt+G\n"},
    });
}

using InstanceRequestTest = CliTest;

// A second `norik` against an instance server in this process, which stands in for the tray app: the same socket,
// lock and folder, found through XDG_RUNTIME_DIR. The display is one no X server has: had the tray app been loaded,
// it would have failed to connect. `norik trigger` and `norik settings` reaching a running norik with the launch's
// startup id are the end-to-end tests'.
TEST_F(InstanceRequestTest, ASecondStartHandsOverWithItsStartupIdWithoutTheDisplayAndRequestsFailWhenNoneRuns) {
    const std::filesystem::path runtime = m_root / "runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    m_environment["XDG_RUNTIME_DIR"] = runtime.string();
    m_environment["DISPLAY"] = ":97";
    m_environment["DESKTOP_STARTUP_ID"] = "launcher-7_TIME99";
    const auto folder = platform::prepareInstanceFolder(runtime / "norik");
    ASSERT_TRUE(folder) << folder.error();
    {
        const auto lock = platform::InstanceLock::acquire(runtime / "norik");
        ASSERT_TRUE(lock);
        auto server = platform::InstanceServer::listen(*lock);
        ASSERT_TRUE(server) << server.error();
        ChildProcess child(launch({}));
        pollfd entry{server->descriptor(), POLLIN, 0};
        EXPECT_EQ(::poll(&entry, 1, 30'000), 1) << "no request came";
        EXPECT_EQ(server->serve(),
                  (std::vector{platform::InstanceMessage{platform::InstanceRequest::settings, "launcher-7_TIME99"}}));
        const Outcome outcome = child.finish();
        EXPECT_EQ(std::pair(outcome.exitCode, outcome.out + outcome.err), std::pair(0, std::string()));
    }
    const Outcome alone = norik({"trigger"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(contains(alone.err, "not running")) << alone.err;
    const Outcome started = norik({});
    EXPECT_EQ(started.exitCode, 1) << started.err;
    EXPECT_TRUE(contains(started.err, ":97") && contains(started.err, "norik review")) << started.err;
}

} // namespace
} // namespace norik::test
