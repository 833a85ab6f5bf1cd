// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/Recorder.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "core/preferences/SettingsStore.h"
#include "platform/desktop/SystemShortcuts.h"

#include "support/TestFiles.h"
#include "support/X11Client.h"

namespace norik::app {
namespace {

using namespace core::shortcuts;
using tests::waitUntil;

const Shortcut kCtrlAltSpace(Key::space, ModifierFlags::command | ModifierFlags::option);

// The settings window in small: a recorder for the review shortcut first, so that the window hands it the focus
// when it opens, a field after it, and a window action that uses Ctrl+, as "Settings…" does.
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
        m_injector.emplace(platform::x11::XcbConnection::open(nullptr).value());

        auto* column = new QVBoxLayout(&m_window);
        m_recorder = new Recorder(m_review, *m_context, QStringLiteral("Shortcut"));
        column->addWidget(m_recorder);
        m_next = new QLineEdit(&m_window);
        column->addWidget(m_next);
        m_window.addAction(QStringLiteral("Settings\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    RecorderField& field() { return m_recorder->field(); }

    // Presses the keys in order through the server, as a keyboard does, and releases them in reverse.
    void press(const std::vector<Key>& keys) { tests::X11Client(m_injector->get()).tap(tests::x11KeyCodes(keys)); }

    bool startRecording() {
        // Without a window manager no click activates a window; an alert that closed leaves none active.
        m_window.activateWindow();
        if (!QTest::qWaitForWindowActive(&m_window)) {
            return false;
        }
        QTest::mouseClick(&field(), Qt::LeftButton);
        return waitUntil([&] { return field().isRecording(); });
    }

    tests::TemporaryFolder m_folder;
    core::SettingsStore m_store{m_folder.path() / "settings.json"};
    const Name m_review{"reviewSelection", kCtrlAltSpace};
    int m_fired = 0;
    // Destroyed in reverse: the window and its recorder before the registry, the registry before the hot keys.
    std::unique_ptr<QtX11HotKeys> m_hotKeys;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<platform::SystemShortcuts> m_system;
    std::optional<RecorderContext> m_context;
    std::optional<platform::x11::XcbConnection> m_injector;
    QWidget m_window;
    Recorder* m_recorder = nullptr;
    QLineEdit* m_next = nullptr;
};

const Shortcut kHeld(Key::g, ModifierFlags::command | ModifierFlags::option);

struct KeyRow {
    const char* name;
    std::vector<Key> keys;
    std::optional<Shortcut> stored; // afterwards
    bool stillRecording;
    const char* alertAnswer = nullptr;
};

class RecorderKeyTest : public RecorderTest, public ::testing::WithParamInterface<KeyRow> {};

// Each row ends in a state that a later key press then shows as settled: recording goes on until Escape, which
// ends it without a change.
// Another client holds Ctrl+Alt+G: the recorder's keyboard grab still brings it to the field, and the user decides.
TEST_P(RecorderKeyTest, KeyRules) {
    auto holder = platform::x11::X11HotKeyBackend::create(m_injector->get(), m_injector->screenNumber());
    ASSERT_TRUE(holder && (*holder)->registerHotKey(1, chordFor(kHeld)));
    ASSERT_TRUE(startRecording());
    EXPECT_TRUE(m_registry->isPaused());
    press(GetParam().keys);
    if (GetParam().alertAnswer != nullptr) {
        ASSERT_TRUE(waitUntil([] { return QApplication::activeModalWidget() != nullptr; }));
        const auto buttons = QApplication::activeModalWidget()->findChildren<QAbstractButton*>();
        const auto answer =
            std::ranges::find(buttons, QString::fromUtf8(GetParam().alertAnswer), &QAbstractButton::text);
        ASSERT_NE(answer, buttons.end());
        (*answer)->click();
    }
    if (GetParam().stillRecording) {
        ASSERT_TRUE(waitUntil([&] { return field().isRecording(); }));
        press({Key::escape});
    }
    ASSERT_TRUE(waitUntil([&] { return !field().isRecording(); }));
    EXPECT_EQ(m_registry->getShortcut(m_review), GetParam().stored);
    EXPECT_FALSE(m_registry->isPaused());
    EXPECT_EQ(m_fired, 0) << "the own hot key does not fire while recording";
    EXPECT_EQ(field().text(), GetParam().stored ? m_context->describe(*GetParam().stored) : QString());
    EXPECT_EQ(m_recorder->warning().contains(QStringLiteral("Ctrl+Alt+G")), GetParam().stored == kHeld);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecorderKeyTest,
    ::testing::Values(
        KeyRow{"ShiftAndALetterIsRefused", {Key::shift, Key::a}, kCtrlAltSpace, true},
        KeyRow{"ModifiersAloneAreNoShortcut", {Key::command, Key::option}, kCtrlAltSpace, true},
        KeyRow{"AFunctionKeyAloneIsStored", {Key::f5}, Shortcut(Key::f5, {}), false},
        KeyRow{"CtrlAltKeyIsStored",
               {Key::command, Key::option, Key::k},
               Shortcut(Key::k, ModifierFlags::command | ModifierFlags::option),
               false},
        KeyRow{"TheOwnHotKeyIsRecordedNotFired", {Key::command, Key::option, Key::space}, kCtrlAltSpace, false},
        KeyRow{"BackspaceClearsAndRecordingGoesOn", {Key::deleteKey}, std::nullopt, true},
        KeyRow{"ANorikMenuItemsCombinationIsRefused", {Key::command, Key::comma}, kCtrlAltSpace, true, "OK"},
        KeyRow{"ASystemConflictIsRefused", {Key::command, Key::option, Key::g}, kCtrlAltSpace, true, "OK"},
        KeyRow{"ASystemConflictUsedAnyway", {Key::command, Key::option, Key::g}, kHeld, false, "Use Anyway"}),
    [](const ::testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

TEST_F(RecorderTest, OnlyTheUsersOwnMovesRecordAndLeavingEndsIt) {
    EXPECT_EQ(QApplication::focusWidget(), &field()) << "the window gave its first field the focus";
    EXPECT_FALSE(field().isRecording());
    ASSERT_TRUE(startRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), &field());
    press({Key::tab});
    ASSERT_TRUE(waitUntil([&] { return !field().isRecording(); }));
    EXPECT_EQ(QApplication::focusWidget(), m_next);
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    press({Key::command, Key::option, Key::space});
    ASSERT_TRUE(waitUntil([&] { return m_fired == 1; })) << "the hot key works again";

    ASSERT_TRUE(startRecording());
    QTest::mouseClick(m_next, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !field().isRecording(); })) << "a click elsewhere ends recording";
}

} // namespace
} // namespace norik::app
