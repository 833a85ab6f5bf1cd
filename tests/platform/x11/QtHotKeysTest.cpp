// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include "app/shortcuts/LocalEventMonitor.h"
#include "app/shortcuts/MenuShortcutMonitor.h"
#include "app/shortcuts/ObjectAssociation.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/KeyTable.h"
#include "core/shortcuts/Registry.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;
using namespace std::chrono_literals;

const Shortcut kOptionCommandSpace(Key::space, ModifierFlags::option | ModifierFlags::command);

quint32 x11KeyCode(Key key) {
    return evdevCode(key).value() + 8;
}

// Counts the key events that reach it, so that a swallowed event shows as missing.
class KeyCountingMenu final : public QMenu {
public:
    int keyPresses = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++keyPresses;
        QMenu::keyPressEvent(event);
    }
};

class KeyCountingWidget final : public QWidget {
public:
    int keyPresses = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++keyPresses; }
};

// Sees the X events that Qt passes on after the filters installed later have looked at them.
class RootKeyObserver final : public QAbstractNativeEventFilter {
public:
    int rootKeyPresses = 0;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (eventType == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_KEY_PRESS) {
            ++rootKeyPresses;
        }
        return false;
    }
};

// One private X server and one QApplication for the suite: Qt allows one application per process.
class QtHotKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new tests::XvfbServer();
        ::setenv("DISPLAY", s_server->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "norik_qt_hotkeys_tests";
        static char* argv[] = {name, nullptr};
        s_application = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete s_application;
        delete s_server;
    }

    void SetUp() override {
        ASSERT_FALSE(s_server->display().empty()) << "Xvfb did not start";
        auto hotKeys = QtX11HotKeys::create();
        ASSERT_TRUE(hotKeys) << hotKeys.error();
        m_hotKeys = *std::move(hotKeys);
        m_registry = std::make_unique<Registry>(m_store, m_hotKeys->backend());
        m_registry->onKeyDown(m_name, [this] { ++m_downs; });
        m_registry->onKeyUp(m_name, [this] { ++m_ups; });
        auto injector = platform::x11::XcbConnection::open(s_server->display().c_str());
        ASSERT_TRUE(injector);
        m_injector.emplace(*std::move(injector));
    }

    void TearDown() override {
        m_registry.reset();
        m_hotKeys.reset();
    }

    void inject(std::uint8_t type, Key key) {
        xcb_test_fake_input(m_injector->get(), type, static_cast<xcb_keycode_t>(x11KeyCode(key)), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        xcb_flush(m_injector->get());
    }

    // Runs Qt's event loop until `done` or a generous time-out.
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

    bool otherClientCanGrab(Key key, std::uint16_t modifiers) {
        xcb_connection_t* other = m_injector->get();
        const xcb_window_t root = platform::x11::rootWindow(other, m_injector->screenNumber());
        const auto keyCode = static_cast<xcb_keycode_t>(x11KeyCode(key));
        const platform::x11::XcbReply<xcb_generic_error_t> error(xcb_request_check(
            other, xcb_grab_key_checked(other, 1, root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        if (!error) {
            // A round trip, so the probe's grab is gone before Norik may grab again.
            xcb_ungrab_key(other, keyCode, root, modifiers);
            const platform::x11::XcbReply<xcb_get_input_focus_reply_t> synced(
                xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
        }
        return !error;
    }

    static QKeyEvent keyEvent(QEvent::Type type, Key key, Qt::KeyboardModifiers modifiers, bool autoRepeat = false) {
        return QKeyEvent(type, Qt::Key_unknown, modifiers, x11KeyCode(key), 0, 0, QString(), autoRepeat);
    }

    static inline tests::XvfbServer* s_server = nullptr;
    static inline QApplication* s_application = nullptr;

    std::unique_ptr<QtX11HotKeys> m_hotKeys;
    tests::TemporaryFolder m_folder;
    core::SettingsStore m_store{m_folder.path() / "settings.json"};
    std::unique_ptr<Registry> m_registry;
    std::optional<platform::x11::XcbConnection> m_injector;
    const Name m_name{"reviewSelection", kOptionCommandSpace};
    int m_downs = 0;
    int m_ups = 0;
};

constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

TEST_F(QtHotKeysTest, TheNativeFilterFeedsTheBackendFromQtsConnectionAndPassesEventsOn) {
    RootKeyObserver observer;
    // Filters run newest first, so this one sees only what the hot-key filter passed on.
    QCoreApplication::instance()->removeNativeEventFilter(m_hotKeys.get());
    QCoreApplication::instance()->installNativeEventFilter(&observer);
    QCoreApplication::instance()->installNativeEventFilter(m_hotKeys.get());
    m_registry->declare(m_name);

    inject(XCB_KEY_PRESS, Key::command);
    inject(XCB_KEY_PRESS, Key::option);
    inject(XCB_KEY_PRESS, Key::space);
    inject(XCB_KEY_RELEASE, Key::space);
    inject(XCB_KEY_RELEASE, Key::option);
    inject(XCB_KEY_RELEASE, Key::command);
    ASSERT_TRUE(processUntil([&] { return m_ups >= 1; }));
    EXPECT_EQ(m_downs, 1);
    EXPECT_GE(observer.rootKeyPresses, 1);
    QCoreApplication::instance()->removeNativeEventFilter(&observer);
}

TEST_F(QtHotKeysTest, WhileAMenuIsShownItsKeysAreMatchedAndTheHotKeysReleased) {
    m_registry->declare(m_name);
    MenuShortcutMonitor monitor(*m_registry);
    KeyCountingMenu menu;
    menu.addAction("Review selection");
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt));

    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(processUntil([&] { return menu.isVisible(); }));
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt)) << "the grabs are released while a menu is open";

    auto press = keyEvent(QEvent::KeyPress, Key::space, Qt::ControlModifier | Qt::AltModifier);
    QCoreApplication::sendEvent(&menu, &press);
    auto repeat = keyEvent(QEvent::KeyPress, Key::space, Qt::ControlModifier | Qt::AltModifier, true);
    QCoreApplication::sendEvent(&menu, &repeat);
    auto release = keyEvent(QEvent::KeyRelease, Key::space, Qt::ControlModifier | Qt::AltModifier);
    QCoreApplication::sendEvent(&menu, &release);
    EXPECT_EQ(m_downs, 1);
    EXPECT_EQ(m_ups, 1);
    EXPECT_EQ(menu.keyPresses, 0) << "a matched key does not reach the menu";

    auto other = keyEvent(QEvent::KeyPress, Key::space, Qt::ControlModifier);
    QCoreApplication::sendEvent(&menu, &other);
    EXPECT_EQ(menu.keyPresses, 1);
    EXPECT_EQ(m_downs, 1);

    menu.hide();
    ASSERT_TRUE(processUntil([&] { return !menu.isVisible(); }));
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt)) << "the grabs come back when the menu closes";
    QCoreApplication::sendEvent(&menu, &press);
    EXPECT_EQ(m_downs, 1) << "without an open menu key events are left alone";

    auto* destroyed = new QMenu;
    destroyed->addAction("Settings…");
    destroyed->popup(QPoint(20, 20));
    ASSERT_TRUE(processUntil([&] { return destroyed->isVisible(); }));
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt));
    delete destroyed;
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt)) << "a menu destroyed while shown counts as closed";
}

TEST_F(QtHotKeysTest, ALocalMonitorFiltersTheApplicationsEventsFromStartUntilDestroyed) {
    KeyCountingWidget widget;
    int seen = 0;
    auto keyA = keyEvent(QEvent::KeyPress, Key::a, Qt::NoModifier);
    {
        LocalEventMonitor unstarted({QEvent::KeyPress}, [&](QObject*, QEvent*) {
            ++seen;
            return false;
        });
        QCoreApplication::sendEvent(&widget, &keyA);
    }
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(widget.keyPresses, 1);
    {
        LocalEventMonitor monitor({QEvent::KeyPress}, [&](QObject* target, QEvent* event) {
            ++seen;
            return target != &widget || static_cast<QKeyEvent*>(event)->nativeScanCode() != x11KeyCode(Key::a);
        });
        monitor.start();
        QCoreApplication::sendEvent(&widget, &keyA);
        EXPECT_EQ(widget.keyPresses, 1) << "the monitor swallowed the key";
        auto keyB = keyEvent(QEvent::KeyPress, Key::b, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &keyB);
        EXPECT_EQ(widget.keyPresses, 2);
        EXPECT_EQ(seen, 2);
    }
    QCoreApplication::sendEvent(&widget, &keyA);
    EXPECT_EQ(widget.keyPresses, 3);
    EXPECT_EQ(seen, 2);
}

TEST_F(QtHotKeysTest, AssociationsKeepTheirValuesApartPerObject) {
    const ObjectAssociation<std::string> label;
    const ObjectAssociation<int> count;
    const ObjectAssociation<int> other;
    QObject first;
    QObject second;
    label.set(first, "review");
    count.set(first, 3);
    EXPECT_EQ(label.get(first), "review");
    EXPECT_EQ(count.get(first), 3);
    EXPECT_EQ(other.get(first), std::nullopt);
    EXPECT_EQ(label.get(second), std::nullopt);
    count.set(first, std::nullopt);
    EXPECT_EQ(count.get(first), std::nullopt);

    // A value of another type under the same key reads as absent.
    first.setProperty(label.key().constData(), QVariant(2.5));
    EXPECT_EQ(label.get(first), std::nullopt);
}

} // namespace
} // namespace norik::app
