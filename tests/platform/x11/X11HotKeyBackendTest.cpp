// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11HotKeyBackend.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Description.h"
#include "core/shortcuts/KeyTable.h"
#include "core/shortcuts/Registry.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

extern char** environ;

namespace norik::platform::x11 {
namespace {

using namespace core::shortcuts;
using core::SettingsStore;
using namespace std::chrono_literals;

const Shortcut kOptionCommandSpace(Key::space, ModifierFlags::option | ModifierFlags::command);
const Shortcut kF5(Key::f5, {});

xcb_keycode_t x11KeyCode(Key key) {
    return static_cast<xcb_keycode_t>(evdevCode(key).value() + 8);
}

class X11HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Fast auto-repeat, so that a held key repeats within a fraction of a second.
        m_server.emplace(std::vector<std::string>{"-ardelay", "100", "-arinterval", "20"});
        ASSERT_FALSE(m_server->display().empty()) << "Xvfb did not start";
        auto connection = XcbConnection::open(m_server->display().c_str());
        auto injector = XcbConnection::open(m_server->display().c_str());
        ASSERT_TRUE(connection && injector);
        m_connection.emplace(*std::move(connection));
        m_injector.emplace(*std::move(injector));
        const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(m_injector->get(), &xcb_test_id);
        ASSERT_TRUE(xtest != nullptr && xtest->present != 0) << "the server lacks XTest";
        auto backend = X11HotKeyBackend::create(m_connection->get(), m_connection->screenNumber());
        ASSERT_TRUE(backend) << backend.error();
        m_backend = *std::move(backend);
        m_registry = std::make_unique<Registry>(m_store, *m_backend);
        m_registry->onKeyDown(m_name, [this] { ++m_downs; });
        m_registry->onKeyUp(m_name, [this] { ++m_ups; });
    }

    void TearDown() override {
        m_registry.reset();
        m_backend.reset();
    }

    void fake(std::uint8_t type, xcb_keycode_t keyCode) {
        xcb_test_fake_input(m_injector->get(), type, keyCode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    void tap(Key key) {
        fake(XCB_KEY_PRESS, x11KeyCode(key));
        fake(XCB_KEY_RELEASE, x11KeyCode(key));
        xcb_flush(m_injector->get());
    }
    // Ctrl+Alt (Command+Option) held around the key.
    void pressChord(Key key) {
        fake(XCB_KEY_PRESS, x11KeyCode(Key::command));
        fake(XCB_KEY_PRESS, x11KeyCode(Key::option));
        fake(XCB_KEY_PRESS, x11KeyCode(key));
        xcb_flush(m_injector->get());
    }
    void releaseChord(Key key) {
        fake(XCB_KEY_RELEASE, x11KeyCode(key));
        fake(XCB_KEY_RELEASE, x11KeyCode(Key::option));
        fake(XCB_KEY_RELEASE, x11KeyCode(Key::command));
        xcb_flush(m_injector->get());
    }

    // A round trip on both connections: everything sent before has been processed by the server.
    void sync() {
        for (const XcbConnection* connection : {&*m_connection, &*m_injector}) {
            const XcbReply<xcb_get_input_focus_reply_t> reply(
                xcb_get_input_focus_reply(connection->get(), xcb_get_input_focus(connection->get()), nullptr));
            ASSERT_TRUE(reply);
        }
    }

    // The server queues injected keys and handles them later: waits until it has handled them.
    bool waitForKeyState(Key key, bool down) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        const xcb_keycode_t keyCode = x11KeyCode(key);
        while (std::chrono::steady_clock::now() < deadline) {
            const XcbReply<xcb_query_keymap_reply_t> keymap(
                xcb_query_keymap_reply(m_injector->get(), xcb_query_keymap(m_injector->get()), nullptr));
            if (!keymap) {
                return false;
            }
            if (((keymap->keys[keyCode / 8] >> (keyCode % 8)) & 1) == (down ? 1 : 0)) {
                return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    // Feeds the backend the events of its connection until `done` or a generous time-out.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        xcb_connection_t* connection = m_connection->get();
        while (!done()) {
            while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
                if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
                    ++m_rawPresses;
                    m_lastPressState = key->state;
                }
                m_backend->handleEvent(event.get());
            }
            if (done()) {
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || xcb_connection_has_error(connection) != 0) {
                return false;
            }
            pollfd entry{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        }
        return true;
    }

    // Whether another client can take the combination (it is released right away).
    bool otherClientCanGrab(Key key, std::uint16_t modifiers) {
        xcb_connection_t* other = m_injector->get();
        const xcb_window_t root = rootWindow(other, m_injector->screenNumber());
        const XcbReply<xcb_generic_error_t> error(
            xcb_request_check(other, xcb_grab_key_checked(other, 1, root, modifiers, x11KeyCode(key),
                                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        if (!error) {
            xcb_ungrab_key(other, x11KeyCode(key), root, modifiers);
            sync();
        }
        return !error;
    }

    std::optional<tests::XvfbServer> m_server;
    std::optional<XcbConnection> m_connection;
    std::optional<XcbConnection> m_injector;
    std::unique_ptr<X11HotKeyBackend> m_backend;
    tests::TemporaryFolder m_folder;
    SettingsStore m_store{m_folder.path() / "settings.json"};
    std::unique_ptr<Registry> m_registry;
    const Name m_name{"reviewSelection", kOptionCommandSpace};
    int m_downs = 0;
    int m_ups = 0;
    int m_rawPresses = 0;
    std::uint16_t m_lastPressState = 0;
};

constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

TEST_F(X11HotKeysTest, CtrlAltSpaceFiresKeyDownOnceAndKeyUpOnceAndOnlyWithItsModifiers) {
    m_registry->declare(m_name);
    EXPECT_TRUE(m_registry->isEnabled(m_name));
    EXPECT_TRUE(m_registry->isRegistered(m_name));

    pressChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_downs >= 1; }));
    EXPECT_EQ(m_ups, 0);
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 1; }));

    // Events arrive in order: had the bare key or Ctrl+Space fired, the count would pass 2 first.
    tap(Key::space);
    fake(XCB_KEY_PRESS, x11KeyCode(Key::command));
    tap(Key::space);
    fake(XCB_KEY_RELEASE, x11KeyCode(Key::command));
    pressChord(Key::space);
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 2; }));
    EXPECT_EQ(m_downs, 2);
}

TEST_F(X11HotKeysTest, FiresWithNumLockAndCapsLockOn) {
    m_registry->declare(m_name);
    tap(Key::keypadClear); // the Num Lock key
    tap(Key::capsLock);
    pressChord(Key::space);
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 1; }));
    EXPECT_EQ(m_downs, 1);
    EXPECT_NE(m_lastPressState & XCB_MOD_MASK_LOCK, 0) << "Caps Lock was on";
    EXPECT_NE(m_lastPressState & ~(kCtrlAlt | XCB_MOD_MASK_LOCK), 0) << "Num Lock was on";
}

TEST_F(X11HotKeysTest, AHeldShortcutFiresOnceWhileTheKeyRepeats) {
    m_registry->declare(m_name);
    pressChord(Key::space);
    // Several presses of the key reach the connection: the server is repeating it.
    ASSERT_TRUE(pumpUntil([&] { return m_rawPresses >= 5; }));
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 1; }));
    EXPECT_EQ(m_downs, 1);
    EXPECT_EQ(m_ups, 1);
}

TEST_F(X11HotKeysTest, AShortcutThatAnotherClientHoldsFailsAndLeavesNothingGrabbed) {
    // The other client holds only the Num Lock variant, so some of our grabs succeed before one fails.
    xcb_connection_t* other = m_injector->get();
    const xcb_window_t root = rootWindow(other, m_injector->screenNumber());
    const XcbReply<xcb_generic_error_t> held(
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, kCtrlAlt | XCB_MOD_MASK_2, x11KeyCode(Key::space),
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    ASSERT_FALSE(held);

    m_registry->declare(m_name);
    EXPECT_FALSE(m_registry->isRegistered(m_name));
    xcb_ungrab_key(other, x11KeyCode(Key::space), root, kCtrlAlt | XCB_MOD_MASK_2);
    sync();
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt)) << "a partial grab was left behind";
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt | XCB_MOD_MASK_LOCK));

    // Nothing fires for it: the F5 press behind it arrives first only if the chord was dropped.
    const Name other5("f5");
    int f5 = 0;
    m_registry->setShortcut(kF5, other5);
    m_registry->onKeyDown(other5, [&] { ++f5; });
    pressChord(Key::space);
    releaseChord(Key::space);
    tap(Key::f5);
    ASSERT_TRUE(pumpUntil([&] { return f5 >= 1; }));
    EXPECT_EQ(m_downs, 0);

    m_registry->setShortcut(Shortcut(Key::k, ModifierFlags::function), Name("fn"));
    EXPECT_FALSE(m_registry->isRegistered(Name("fn")));
}

TEST_F(X11HotKeysTest, DisablingReleasesEveryGrabAndEnablingTakesThemBack) {
    m_registry->declare(m_name);
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt));

    m_registry->setEnabled(false);
    sync();
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt));
    pressChord(Key::space);
    ASSERT_TRUE(waitForKeyState(Key::space, true));
    releaseChord(Key::space);
    ASSERT_TRUE(waitForKeyState(Key::command, false));

    m_registry->setEnabled(true);
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt));
    pressChord(Key::space);
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 1; }));
    EXPECT_EQ(m_downs, 1) << "the press while disabled must not fire";
}

TEST_F(X11HotKeysTest, ASwitchedLayoutRenamesKeysAndKeepsTheGrabsOnTheirPhysicalKeys) {
    m_registry->declare(m_name);
    const Shortcut ctrlY(Key::y, ModifierFlags::command);
    EXPECT_EQ(wordsDescription(ctrlY, &m_backend->layout()), "Ctrl+Y");

    pid_t pid = 0;
    const std::string display = m_server->display();
    const char* argv[] = {"setxkbmap", "-display", display.c_str(), "de", nullptr};
    ASSERT_EQ(::posix_spawnp(&pid, "setxkbmap", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_TRUE(pumpUntil([&] { return m_backend->layout().keyToCharacter(Key::y) == "z"; }));
    EXPECT_EQ(wordsDescription(ctrlY, &m_backend->layout()), "Ctrl+Z");
    EXPECT_EQ(description(ctrlY, &m_backend->layout()), "⌘Z");

    pressChord(Key::space);
    releaseChord(Key::space);
    ASSERT_TRUE(pumpUntil([&] { return m_ups >= 1; }));
    EXPECT_EQ(m_downs, 1);
}

} // namespace
} // namespace norik::platform::x11
