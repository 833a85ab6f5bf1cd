// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/Recorder.h"

#include <memory>
#include <optional>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include "app/QtWait.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/KeyTable.h"
#include "platform/desktop/SystemShortcuts.h"

#include "support/TestFiles.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;
using tests::waitUntil;

const Shortcut kCtrlAltSpace(Key::space, ModifierFlags::command | ModifierFlags::option);

xcb_keycode_t x11KeyCode(Key key) {
    return static_cast<xcb_keycode_t>(evdevCode(key).value() + 8);
}

// The settings window in small: a recorder for the review shortcut first, so that the window hands it the focus
// when it opens, and a window action that uses Ctrl+, as "Settings…" does.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto hotKeys = QtX11HotKeys::create();
        ASSERT_TRUE(hotKeys) << hotKeys.error();
        m_hotKeys = *std::move(hotKeys);
        auto& backend = m_hotKeys->backend();
        m_registry = std::make_unique<Registry>(m_store, backend);
        m_registry->declare(m_review);
        m_registry->onKeyDown(m_review, [this] { ++m_fired; });
        auto system = platform::SystemShortcuts::create(nullptr, platform::DesktopSources{});
        ASSERT_TRUE(system) << system.error();
        m_system = *std::move(system);
        m_context.emplace(RecorderContext{*m_registry, &backend.layout(), [this](const Shortcut& shortcut) {
                                              return m_system->isReserved(shortcut, kCtrlAltSpace);
                                          }});
        auto injector = platform::x11::XcbConnection::open(nullptr);
        ASSERT_TRUE(injector);
        m_injector.emplace(*std::move(injector));

        m_window = std::make_unique<QWidget>();
        auto* column = new QVBoxLayout(m_window.get());
        m_recorder = new Recorder(m_review, *m_context, QStringLiteral("Shortcut"));
        column->addWidget(m_recorder);
        column->addWidget(new QLineEdit(m_window.get()));
        auto* settings = new QAction(QStringLiteral("Settings\u2026"), m_window.get());
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        m_window->addAction(settings);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    void TearDown() override {
        m_window.reset();
        m_registry.reset();
        m_hotKeys.reset();
    }

    RecorderField& field() { return m_recorder->field(); }
    std::optional<Shortcut> stored() const { return m_registry->getShortcut(m_review); }

    // Presses the keys in order through the server, as a keyboard does, and releases them in reverse.
    void press(std::vector<Key> keys) {
        for (const Key key : keys) {
            xcb_test_fake_input(m_injector->get(), XCB_KEY_PRESS, x11KeyCode(key), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            xcb_test_fake_input(m_injector->get(), XCB_KEY_RELEASE, x11KeyCode(*key), XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                                0);
        }
        xcb_flush(m_injector->get());
    }

    bool startRecording() {
        // Without a window manager no click activates a window; an alert that closed leaves none active.
        m_window->activateWindow();
        if (!QTest::qWaitForWindowActive(m_window.get())) {
            return false;
        }
        QTest::mouseClick(&field(), Qt::LeftButton);
        return waitUntil([&] { return field().isRecording(); });
    }

    static QMessageBox* alert() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("shortcutAlert") && widget->isVisible()) {
                return qobject_cast<QMessageBox*>(widget);
            }
        }
        return nullptr;
    }

    static void answer(QMessageBox* box, const QString& button) {
        for (QAbstractButton* candidate : box->buttons()) {
            if (candidate->text() == button) {
                candidate->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << button.toStdString();
    }

    tests::TemporaryFolder m_folder;
    core::SettingsStore m_store{m_folder.path() / "settings.json"};
    std::unique_ptr<QtX11HotKeys> m_hotKeys;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<platform::SystemShortcuts> m_system;
    std::optional<RecorderContext> m_context;
    std::optional<platform::x11::XcbConnection> m_injector;
    std::unique_ptr<QWidget> m_window;
    Recorder* m_recorder = nullptr;
    const Name m_review{"reviewSelection", kCtrlAltSpace};
    int m_fired = 0;
};

struct KeyRow {
    const char* name;
    std::vector<Key> keys;
    // The stored shortcut afterwards.
    std::optional<Shortcut> stored;
    bool stillRecording;
};

class RecorderKeyTest : public RecorderTest, public ::testing::WithParamInterface<KeyRow> {};

// Each row ends in a state that a later key press then shows as settled: recording goes on until Escape.
TEST_P(RecorderKeyTest, KeyRules) {
    ASSERT_TRUE(startRecording());
    EXPECT_TRUE(m_registry->isPaused());
    press(GetParam().keys);
    if (GetParam().stillRecording) {
        press({Key::escape});
    }
    ASSERT_TRUE(waitUntil([&] { return !field().isRecording(); }));
    EXPECT_EQ(stored(), GetParam().stored);
    EXPECT_FALSE(m_registry->isPaused());
    EXPECT_EQ(m_fired, 0) << "the own hot key does not fire while recording";
    EXPECT_EQ(field().text(), GetParam().stored ? m_context->describe(*GetParam().stored) : QString());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecorderKeyTest,
    ::testing::Values(
        KeyRow{"ALetterAloneIsRefused", {Key::a}, kCtrlAltSpace, true},
        KeyRow{"ShiftAndALetterIsRefused", {Key::shift, Key::a}, kCtrlAltSpace, true},
        KeyRow{"AFunctionKeyAloneIsStored", {Key::f5}, Shortcut(Key::f5, {}), false},
        KeyRow{"CtrlAltKeyIsStored",
               {Key::command, Key::option, Key::k},
               Shortcut(Key::k, ModifierFlags::command | ModifierFlags::option),
               false},
        KeyRow{"TheOwnHotKeyIsRecordedNotFired", {Key::command, Key::option, Key::space}, kCtrlAltSpace, false},
        KeyRow{"EscapeEndsWithoutChange", {Key::escape}, kCtrlAltSpace, false},
        KeyRow{"BackspaceClearsAndRecordingGoesOn", {Key::deleteKey}, std::nullopt, true}),
    [](const ::testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

TEST_F(RecorderTest, OpeningTheWindowDoesNotRecordAClickDoesAndRecordingIsAnnounced) {
    std::vector<bool> announced;
    const auto observer =
        m_registry->notifications().addObserver(recorderActiveStatusDidChange, [&](const Notification& n) {
            announced.push_back(std::get<bool>(n.userInfo.at("isActive")));
        });
    EXPECT_EQ(QApplication::focusWidget(), &field()) << "the window gave its first field the focus";
    EXPECT_FALSE(field().isRecording());
    ASSERT_TRUE(startRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), &field());
    press({Key::tab});
    ASSERT_TRUE(waitUntil([&] { return !field().isRecording(); }));
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    EXPECT_EQ(announced, (std::vector<bool>{true, false}));

    press({Key::command, Key::option, Key::space});
    ASSERT_TRUE(waitUntil([&] { return m_fired == 1; })) << "the hot key works again";
}

TEST_F(RecorderTest, ACombinationOfANorikMenuItemIsRefusedWithItsTitle) {
    ASSERT_TRUE(startRecording());
    press({Key::command, Key::comma});
    ASSERT_TRUE(waitUntil([] { return alert() != nullptr; }));
    EXPECT_EQ(alert()->text(),
              QStringLiteral("This shortcut cannot be used because the menu item “Settings…” uses it."));
    answer(alert(), QStringLiteral("OK"));
    ASSERT_TRUE(waitUntil([&] { return field().isRecording(); })) << "recording starts anew";
    EXPECT_EQ(stored(), kCtrlAltSpace);
}

// Another X client holds a grab of Ctrl+Alt+G: the keyboard grab of the recorder still brings the
// combination to the field, the probe finds the other client, and the user decides.
TEST_F(RecorderTest, ACombinationAnotherClientGrabsReachesTheFieldAndIsAConflictUntilUsedAnyway) {
    auto holder = platform::x11::X11HotKeyBackend::create(m_injector->get(), m_injector->screenNumber());
    ASSERT_TRUE(holder) << holder.error();
    const Shortcut held(Key::g, ModifierFlags::command | ModifierFlags::option);
    ASSERT_TRUE((*holder)->registerHotKey(1, chordFor(held)));

    ASSERT_TRUE(startRecording());
    press({Key::command, Key::option, Key::g});
    ASSERT_TRUE(waitUntil([] { return alert() != nullptr; }));
    EXPECT_EQ(alert()->text(), QStringLiteral("This shortcut is already used by the system."));
    EXPECT_FALSE(alert()->informativeText().isEmpty());
    answer(alert(), QStringLiteral("OK"));
    ASSERT_TRUE(waitUntil([&] { return field().isRecording(); }));
    EXPECT_EQ(stored(), kCtrlAltSpace);
    EXPECT_TRUE(m_recorder->warning().isEmpty());

    press({Key::command, Key::option, Key::g});
    ASSERT_TRUE(waitUntil([] { return alert() != nullptr; }));
    answer(alert(), QStringLiteral("Use Anyway"));
    ASSERT_TRUE(waitUntil([&] { return !field().isRecording(); }));
    EXPECT_EQ(stored(), held);
    EXPECT_EQ(m_recorder->warning(),
              QStringLiteral("Ctrl+Alt+G does not work: another program uses it. Choose another shortcut."));

    ASSERT_TRUE(startRecording());
    press({Key::f6});
    ASSERT_TRUE(waitUntil([&] { return stored() == Shortcut(Key::f6, {}); }));
    EXPECT_TRUE(m_recorder->warning().isEmpty()) << "a working shortcut takes the warning away";
}

} // namespace
} // namespace norik::app
