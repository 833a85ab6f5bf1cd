// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include "platform/x11/X11HotKeyBackend.h"
#include "platform/x11/XcbHandles.h"

#include "support/XvfbServer.h"

namespace norik::test {
namespace {

struct Step {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out; // standard error is empty exactly when the command succeeds
};

class ShortcutTest : public CliTest {
protected:
    void run(const std::vector<Step>& steps) const {
        for (const Step& step : steps) {
            const Outcome outcome = norik(step.arguments);
            SCOPED_TRACE(step.arguments.back());
            EXPECT_EQ(outcome.exitCode, step.exitCode) << outcome.err;
            EXPECT_EQ(outcome.out, step.out);
            EXPECT_EQ(outcome.err.empty(), step.exitCode == 0) << outcome.err;
        }
    }
};

TEST_F(ShortcutTest, WithoutADisplayWordsAreReadStoredAndRefusedByTheRecordersRules) {
    run({
        {{"shortcut"}, 0, "Ctrl+Alt+Space\n"},
        {{"shortcut", "set", "alt+CTRL+k"}, 0, "Ctrl+Alt+K\n"},
        {{"shortcut"}, 0, "Ctrl+Alt+K\n"},
        {{"shortcut", "set", "Shift+A"}, 2, ""},
        {{"shortcut", "set", "Ctrl+Frob"}, 2, ""},
        {{"shortcut", "set", "Ctrl+,", "--force"}, 1, ""}, // the settings menu item's: not even with --force
        {{"shortcut", "set", "F5"}, 0, "F5\n"},
        {{"shortcut", "clear"}, 0, ""},
        {{"shortcut"}, 0, "(none)\n"},
    });
    EXPECT_TRUE(contains(tests::readFile(configHome() / "norik" / "settings.json"),
                         R"("GlobalShortcuts_reviewSelection": false)"));
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
    const core::shortcuts::Shortcut held(core::shortcuts::Key::g, core::shortcuts::ModifierFlags::command |
                                                                      core::shortcuts::ModifierFlags::option);
    ASSERT_TRUE((*grabs)->registerHotKey(1, core::shortcuts::chordFor(held)));
    run({
        {{"shortcut", "set", "Ctrl+Alt+G"}, 1, ""},
        {{"shortcut", "set", "Ctrl+Alt+F2"}, 1, ""}, // a virtual terminal switch
        {{"shortcut"}, 0, "Ctrl+Alt+Space\n"},
        {{"shortcut", "set", "Ctrl+Alt+G", "--force"}, 0, "Ctrl+Alt+G\n"},
        {{"shortcut", "set", "Ctrl+Alt+G"}, 0, "Ctrl+Alt+G\n"},
    });
}

} // namespace
} // namespace norik::test
