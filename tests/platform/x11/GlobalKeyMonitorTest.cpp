// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/GlobalKeyMonitor.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "platform/x11/XcbHandles.h"

#include "support/XvfbServer.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using platform::x11::XcbConnection;
using platform::x11::XcbReply;

// No such device: the monitor then counts the XTEST keyboard too.
constexpr std::string_view kNoDevice = "no such input device";
// Q and Escape on an evdev keymap.
constexpr xcb_keycode_t kOtherKeyCode = 24;
constexpr xcb_keycode_t kEscapeKeyCode = 9;
constexpr xcb_keycode_t kCapsLockKeyCode = 66;

// Xvfb's only real keyboard is the XTEST one, so a press through XTEST is the one press a test can make.
// Monitors that count it are told to ignore a device that does not exist; the default monitor is the one
// that shows that XTEST presses are left out.
class GlobalKeyMonitorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Without an X connection of its own in between tests, the server would reset and refuse clients a while.
        s_server = new tests::XvfbServer({"-noreset"});
        ::setenv("DISPLAY", s_server->display().c_str(), 1);
        static int argc = 1;
        static char name[] = "norik_global_key_monitor_tests";
        static char* argv[] = {name, nullptr};
        s_application = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete s_application;
        delete s_server;
    }

    void SetUp() override {
        ASSERT_FALSE(s_server->display().empty()) << "Xvfb did not start";
        auto injector = XcbConnection::open(nullptr);
        ASSERT_TRUE(injector) << injector.error();
        m_injector.emplace(*std::move(injector));
    }

    static std::unique_ptr<GlobalKeyMonitor> monitor(int& presses, std::string_view ignoredDevice = kNoDevice) {
        auto created = GlobalKeyMonitor::create(
            nullptr, XKB_KEY_Escape, [&presses] { ++presses; }, ignoredDevice);
        EXPECT_TRUE(created) << created.error();
        return created ? *std::move(created) : nullptr;
    }

    void tap(xcb_keycode_t keyCode) {
        xcb_connection_t* c = m_injector->get();
        for (const auto type : {std::uint8_t{XCB_KEY_PRESS}, std::uint8_t{XCB_KEY_RELEASE}}) {
            xcb_test_fake_input(c, type, keyCode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        // A round trip: the server has handled both keys, and sent their events, before this returns.
        XcbReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    static bool processUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return true;
    }

    // Events already on their way to another connection when a witness saw its own.
    static void settle() {
        const auto until = std::chrono::steady_clock::now() + 300ms;
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }

    static inline tests::XvfbServer* s_server = nullptr;
    static inline QCoreApplication* s_application = nullptr;
    std::optional<XcbConnection> m_injector;
};

TEST_F(GlobalKeyMonitorTest, EscapeCountsByItsKeysymWhereverTheKeymapPutsIt) {
    int presses = 0;
    const auto escape = monitor(presses);
    ASSERT_TRUE(escape);
    escape->setActive(true);
    const auto keymapOptions = [](const char* option) {
        QProcess setxkbmap;
        setxkbmap.start(QStringLiteral("setxkbmap"), {"-option", "", "-option", option});
        return setxkbmap.waitForFinished() && setxkbmap.exitCode() == 0;
    };
    ASSERT_TRUE(keymapOptions("caps:swapescape"));

    tap(kEscapeKeyCode);
    tap(kCapsLockKeyCode);
    tap(kCapsLockKeyCode);
    const bool counted = processUntil([&] { return presses >= 2; });
    settle();
    EXPECT_TRUE(keymapOptions(""));
    EXPECT_TRUE(counted);
    EXPECT_EQ(presses, 2);
}

TEST_F(GlobalKeyMonitorTest, ActiveMonitorSeesEscapeOnlyOncePerPressAndNotOtherKeys) {
    int presses = 0;
    const auto escape = monitor(presses);
    ASSERT_TRUE(escape);
    escape->setActive(true);
    tap(kOtherKeyCode);
    tap(kEscapeKeyCode);
    ASSERT_TRUE(processUntil([&] { return presses >= 1; }));
    settle();
    EXPECT_EQ(presses, 1);
}

TEST_F(GlobalKeyMonitorTest, InactiveMonitorSeesNothingAndStopsWhenDeactivated) {
    int witnessed = 0;
    const auto witness = monitor(witnessed);
    ASSERT_TRUE(witness);
    witness->setActive(true);
    int presses = 0;
    const auto idle = monitor(presses);
    ASSERT_TRUE(idle);

    tap(kEscapeKeyCode);
    ASSERT_TRUE(processUntil([&] { return witnessed == 1; }));
    settle();
    EXPECT_EQ(presses, 0);

    idle->setActive(true);
    tap(kEscapeKeyCode);
    ASSERT_TRUE(processUntil([&] { return presses == 1; }));

    idle->setActive(false);
    EXPECT_FALSE(idle->isActive());
    tap(kEscapeKeyCode);
    ASSERT_TRUE(processUntil([&] { return witnessed == 3; }));
    settle();
    EXPECT_EQ(presses, 1);
}

TEST_F(GlobalKeyMonitorTest, PressesFromTheXTestKeyboardDoNotCountByDefault) {
    int witnessed = 0;
    const auto witness = monitor(witnessed);
    ASSERT_TRUE(witness);
    witness->setActive(true);
    int presses = 0;
    const auto escape = monitor(presses, GlobalKeyMonitor::kXTestKeyboard);
    ASSERT_TRUE(escape);
    escape->setActive(true);

    tap(kEscapeKeyCode);
    ASSERT_TRUE(processUntil([&] { return witnessed == 1; }));
    settle();
    EXPECT_EQ(presses, 0);
}

TEST_F(GlobalKeyMonitorTest, FocusedApplicationStillGetsItsEscape) {
    int presses = 0;
    const auto escape = monitor(presses);
    ASSERT_TRUE(escape);
    escape->setActive(true);

    // Another client's window, mapped and focused.
    auto opened = XcbConnection::open(nullptr);
    ASSERT_TRUE(opened);
    xcb_connection_t* other = opened->get();
    const xcb_window_t root = platform::x11::rootWindow(other, opened->screenNumber());
    const xcb_window_t window = xcb_generate_id(other);
    const std::uint32_t events = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(other, XCB_COPY_FROM_PARENT, window, root, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_map_window(other, window);
    xcb_flush(other);
    const auto nextEvent = [other](std::uint8_t type) -> XcbReply<xcb_generic_event_t> {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            XcbReply<xcb_generic_event_t> event(xcb_poll_for_event(other));
            if (!event) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                continue;
            }
            if ((event->response_type & 0x7f) == type) {
                return event;
            }
        }
        return nullptr;
    };
    ASSERT_TRUE(nextEvent(XCB_MAP_NOTIFY));
    xcb_set_input_focus(other, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    ASSERT_TRUE(focus);
    ASSERT_EQ(focus->focus, window);

    tap(kEscapeKeyCode);
    const auto press = nextEvent(XCB_KEY_PRESS);
    ASSERT_TRUE(press) << "the focused window did not get Escape";
    EXPECT_EQ(reinterpret_cast<const xcb_key_press_event_t*>(press.get())->detail, kEscapeKeyCode);
    EXPECT_TRUE(processUntil([&] { return presses == 1; }));
}

} // namespace
} // namespace norik::app
