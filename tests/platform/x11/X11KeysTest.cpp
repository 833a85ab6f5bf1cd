// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QProcess>
#include <QShortcut>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "app/QtWait.h"
#include "app/shortcuts/GlobalKeyMonitor.h"
#include "app/shortcuts/MenuShortcutMonitor.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Description.h"
#include "core/shortcuts/Registry.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/X11Client.h"
#include "support/XvfbServer.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;
using platform::x11::XcbReply;
using tests::waitUntil;
using tests::x11KeyCode;
using tests::x11KeyCodes;

const Shortcut kCtrlAltSpace(Key::space, ModifierFlags::option | ModifierFlags::command);
const std::vector<Key> kChord{Key::command, Key::option, Key::space};
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
// Counts every XTEST key; the default monitor leaves them out.
constexpr std::string_view kNoDevice = "no such input device";

// Sees the key presses that the hot keys' filter, installed after it and so run before it, passes on.
class KeyPressObserver final : public QAbstractNativeEventFilter {
public:
    int presses = 0;
    std::uint16_t lastState = 0;

    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
        const auto* event = static_cast<const xcb_key_press_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            ++presses;
            lastState = event->state;
        }
        return false;
    }
};

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

// One private X server with fast auto-repeat, and one QApplication, for the suite: Qt allows one per process.
// The hot keys live on Qt's connection; keys come from another client through XTEST, as from a keyboard.
class X11KeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new tests::XvfbServer({"-ardelay", "100", "-arinterval", "20"});
        static int argc = 1;
        static char name[] = "norik_platform_x11_tests";
        static char* argv[] = {name, nullptr};
        s_application = s_server->becomeQtDisplay() ? new QApplication(argc, argv) : nullptr;
    }
    static void TearDownTestSuite() {
        delete s_application;
        delete s_server;
    }

    void SetUp() override {
        ASSERT_NE(s_application, nullptr);
        QCoreApplication::instance()->installNativeEventFilter(&m_observer);
        auto hotKeys = QtX11HotKeys::create();
        ASSERT_TRUE(hotKeys) << hotKeys.error();
        m_hotKeys = *std::move(hotKeys);
        m_registry = std::make_unique<Registry>(m_store, m_hotKeys->backend());
        m_registry->onKeyDown(m_name, [this] { ++m_downs; });
        m_registry->onKeyUp(m_name, [this] { ++m_ups; });
        auto injector = platform::x11::XcbConnection::open(nullptr);
        ASSERT_TRUE(injector);
        m_injector.emplace(*std::move(injector));
        m_other = tests::X11Client(m_injector->get());
    }

    void TearDown() override { QCoreApplication::instance()->removeNativeEventFilter(&m_observer); }

    void press(const std::vector<Key>& keys, bool down = true) { m_other.press(x11KeyCodes(keys), down); }
    void tap(const std::vector<Key>& keys) { m_other.tap(x11KeyCodes(keys)); }

    // Whether another client can take the combination, after Norik's grabs and releases on Qt's connection.
    bool otherClientCanGrab(Key key, std::uint16_t modifiers) {
        xcb_connection_t* qt = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        XcbReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
        return m_other.canGrab(x11KeyCode(key), modifiers);
    }

    static void setxkbmap(const QStringList& arguments) { ASSERT_EQ(QProcess::execute("setxkbmap", arguments), 0); }

    static inline tests::XvfbServer* s_server = nullptr;
    static inline QApplication* s_application = nullptr;
    KeyPressObserver m_observer;
    std::unique_ptr<QtX11HotKeys> m_hotKeys;
    tests::TemporaryFolder m_folder;
    core::SettingsStore m_store{m_folder.path() / "settings.json"};
    std::unique_ptr<Registry> m_registry;
    std::optional<platform::x11::XcbConnection> m_injector;
    tests::X11Client m_other;
    const Name m_name{"reviewSelection", kCtrlAltSpace};
    int m_downs = 0;
    int m_ups = 0;
};

TEST_F(X11KeysTest, FiresOnceDownAndUpOnlyWithItsOwnModifiers) {
    m_registry->declare(m_name);
    press(kChord);
    ASSERT_TRUE(waitUntil([&] { return m_downs == 1; }));
    EXPECT_EQ(m_ups, 0);
    press(kChord, false);
    ASSERT_TRUE(waitUntil([&] { return m_ups == 1; }));

    // Events arrive in order: once a hot key typed last has fired, everything typed before it was handled.
    int witnessed = 0;
    const Name witness{"witness", Shortcut(Key::f5, {})};
    m_registry->declare(witness);
    m_registry->onKeyDown(witness, [&] { ++witnessed; });
    tap({Key::space});
    tap({Key::command, Key::space});
    tap(kChord);
    tap({Key::f5});
    ASSERT_TRUE(waitUntil([&] { return witnessed == 1; }));
    EXPECT_EQ(m_downs, 2);
    EXPECT_EQ(m_ups, 2);
}

// Held while the server repeats it, with Num Lock and Caps Lock on.
TEST_F(X11KeysTest, AHeldShortcutFiresOnceWithTheLockModifiersOn) {
    m_registry->declare(m_name);
    tap({Key::keypadClear}); // the Num Lock key
    tap({Key::capsLock});
    press(kChord);
    // More presses reach Qt's connection, past the hot keys' filter, than were typed: the server repeats the key.
    const bool repeated = waitUntil([&] { return m_observer.presses >= 8; });
    press(kChord, false);
    const bool fired = waitUntil([&] { return m_ups == 1; });
    tap({Key::keypadClear});
    tap({Key::capsLock});
    ASSERT_TRUE(repeated && fired);
    EXPECT_EQ(m_downs, 1);
    EXPECT_NE(m_observer.lastState & XCB_MOD_MASK_LOCK, 0) << "Caps Lock was on";
    EXPECT_NE(m_observer.lastState & ~(kCtrlAlt | XCB_MOD_MASK_LOCK), 0) << "Num Lock was on";
}

TEST_F(X11KeysTest, AShortcutThatAnotherClientHoldsFailsAndLeavesNothingGrabbed) {
    // The other client holds only the Num Lock variant, so some of Norik's grabs succeed before one fails.
    xcb_connection_t* other = m_other.connection();
    ASSERT_FALSE(XcbReply<xcb_generic_error_t>(xcb_request_check(
        other, xcb_grab_key_checked(other, 1, m_other.root(), kCtrlAlt | XCB_MOD_MASK_2, x11KeyCode(Key::space),
                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC))));
    m_registry->declare(m_name);
    EXPECT_FALSE(m_registry->isRegistered(m_name));
    xcb_ungrab_key(other, x11KeyCode(Key::space), m_other.root(), kCtrlAlt | XCB_MOD_MASK_2);
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt)) << "a partial grab was left behind";
    // Without a grab the server sends the chord to no client of Norik's, so nothing can fire for it.
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt | XCB_MOD_MASK_LOCK));
}

TEST_F(X11KeysTest, ASwitchedLayoutRenamesKeysAndKeepsTheGrabsOnTheirPhysicalKeys) {
    m_registry->declare(m_name);
    const Shortcut ctrlY(Key::y, ModifierFlags::command);
    EXPECT_EQ(wordsDescription(ctrlY, &m_hotKeys->backend().layout()), "Ctrl+Y");
    setxkbmap({"de"});
    const bool switched = waitUntil([&] { return m_hotKeys->backend().layout().keyToCharacter(Key::y) == "z"; });
    EXPECT_EQ(wordsDescription(ctrlY, &m_hotKeys->backend().layout()), "Ctrl+Z");
    tap(kChord);
    const bool fired = waitUntil([&] { return m_ups == 1; });
    setxkbmap({"us"});
    EXPECT_TRUE(switched);
    EXPECT_TRUE(fired);
    EXPECT_EQ(m_downs, 1);
}

TEST_F(X11KeysTest, WhileAMenuIsShownItsKeysAreMatchedAndTheHotKeysReleased) {
    m_registry->declare(m_name);
    MenuShortcutMonitor monitor(*m_registry);
    KeyCountingMenu menu;
    menu.addAction("Review selection");
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }));
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt)) << "the grabs are released while a menu is open";

    const auto send = [&](QEvent::Type type, Qt::KeyboardModifiers modifiers, bool repeat = false) {
        QKeyEvent event(type, Qt::Key_unknown, modifiers, x11KeyCode(Key::space), 0, 0, QString(), repeat);
        QCoreApplication::sendEvent(&menu, &event);
    };
    const Qt::KeyboardModifiers ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    send(QEvent::KeyPress, ctrlAlt);
    send(QEvent::KeyPress, ctrlAlt, true);
    send(QEvent::KeyRelease, ctrlAlt);
    EXPECT_EQ(m_downs, 1);
    EXPECT_EQ(m_ups, 1);
    EXPECT_EQ(menu.keyPresses, 0) << "a matched key does not reach the menu";
    send(QEvent::KeyPress, Qt::ControlModifier);
    EXPECT_EQ(menu.keyPresses, 1);

    menu.hide();
    ASSERT_TRUE(waitUntil([&] { return !menu.isVisible(); }));
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt)) << "the grabs come back when the menu closes";
    auto* destroyed = new QMenu;
    destroyed->popup(QPoint(20, 20));
    ASSERT_TRUE(waitUntil([&] { return destroyed->isVisible(); }));
    EXPECT_TRUE(otherClientCanGrab(Key::space, kCtrlAlt));
    delete destroyed;
    EXPECT_FALSE(otherClientCanGrab(Key::space, kCtrlAlt)) << "a menu destroyed while shown counts as closed";
}

TEST_F(X11KeysTest, EscapeMonitorCountsByKeysymLeavesTheFocusedClientItsKeyAndIgnoresSyntheticKeys) {
    const auto monitor = [](xcb_keysym_t keysym, int& presses, std::string_view ignoredDevice) {
        auto created = GlobalKeyMonitor::create(
            nullptr, keysym, [&presses] { ++presses; }, ignoredDevice);
        EXPECT_TRUE(created) << created.error();
        return created ? *std::move(created) : nullptr;
    };
    int escapes = 0;
    int synthetic = 0;
    int witnessed = 0;
    int idle = 0;
    const auto escape = monitor(XKB_KEY_Escape, escapes, kNoDevice);
    const auto stopped = monitor(XKB_KEY_Escape, idle, kNoDevice);
    const auto byDefault = monitor(XKB_KEY_Escape, synthetic, GlobalKeyMonitor::kXTestKeyboard);
    // Connected last: the server writes each key's events to the others first, so once it has seen Q they have too.
    const auto witness = monitor(XKB_KEY_q, witnessed, kNoDevice);
    ASSERT_TRUE(escape && stopped && byDefault && witness);
    for (GlobalKeyMonitor* active : {escape.get(), stopped.get(), byDefault.get(), witness.get()}) {
        active->setActive(true);
    }
    stopped->setActive(false);
    // A window of this process, active: the monitors, each on a connection of its own, must leave it its keys.
    QWidget focused;
    int focusedEscapes = 0;
    QObject::connect(new QShortcut(Qt::Key_Escape, &focused), &QShortcut::activated, [&] { ++focusedEscapes; });
    focused.show();
    focused.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&focused));
    ASSERT_NO_FATAL_FAILURE(setxkbmap({"-option", "caps:swapescape"}));

    // Caps Lock where Escape was, and back; Escape twice where Caps Lock was; then Q.
    tap({Key::escape});
    tap({Key::capsLock});
    tap({Key::capsLock});
    tap({Key::escape});
    tap({Key::q});
    const bool seen = waitUntil([&] { return witnessed == 1 && focusedEscapes == 2; });
    QCoreApplication::processEvents();
    setxkbmap({"-option", ""});
    ASSERT_TRUE(seen) << focusedEscapes << " of 2 Escapes reached the focused window";
    EXPECT_EQ(escapes, 2);
    EXPECT_EQ(synthetic, 0);
    EXPECT_EQ(idle, 0);
}

} // namespace
} // namespace norik::app
