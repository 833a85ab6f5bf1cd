// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/onboarding/OnboardingView.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/shortcuts/TriggerRouteRow.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include "support/TestFiles.h"

namespace norik::app {
namespace {

// Step 1 follows whether Norik can send Copy within the poll; the other steps open the settings and show the
// review shortcut in a recorder.
TEST(OnboardingViewTest, StepOneTurnsDoneOnceCopyCanBeSentAndTheOtherStepsAct) {
    tests::TemporaryFolder folder;
    core::SettingsStore settings(folder.path() / "settings.json");
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry(settings, hotKeys);
    registry.declare(core::shortcuts::reviewSelection());
    const auto layout = core::shortcuts::KeyboardLayout::fromNames("us").value();
    RecorderContext shortcuts{registry, &layout, {}};
    bool canSendCopy = false;
    int explained = 0;
    int settingsOpened = 0;
    OnboardingView view({.onDone = {},
                         .openSettings = [&] { ++settingsOpened; },
                         .canSendCopy = [&] { return canSendCopy; },
                         .explainCopy = [&] { ++explained; }},
                        shortcuts);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.size(), QSize(OnboardingView::kWidth, OnboardingView::kHeight));

    auto* grant = view.findChild<QPushButton*>(QStringLiteral("grant"));
    ASSERT_NE(grant, nullptr);
    EXPECT_TRUE(grant->isVisible());
    EXPECT_FALSE(view.findChild<QLabel*>(QStringLiteral("granted"))->isVisible());
    grant->click();
    EXPECT_EQ(explained, 1);

    canSendCopy = true;
    ASSERT_TRUE(tests::waitUntil([&] { return view.copyGranted(); }));
    EXPECT_FALSE(grant->isVisible());
    EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("granted"))->isVisible());

    view.findChild<QPushButton*>(QStringLiteral("openSettings"))->click();
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(view.findChild<QLineEdit*>(QStringLiteral("shortcutRecorder"))->text(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_TRUE(view.findChild<QPushButton*>(QStringLiteral("getStarted"))->isDefault());
}

struct RouteCase {
    const char* name;
    platform::desktop::TriggerRoute route;
    // The button the user clicks, if any.
    const char* button;
    QString text;
    QString clipboard;
};

class TriggerRouteStep : public ::testing::TestWithParam<RouteCase> {};

// Where Norik's own grab does not reach every window, step 3 says how the shortcut reaches Norik.
TEST_P(TriggerRouteStep, ShowsHowTheShortcutReachesNorik) {
    tests::TemporaryFolder folder;
    core::SettingsStore settings(folder.path() / "settings.json");
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry(settings, hotKeys);
    bool gnomeEntry = false;
    RecorderContext shortcuts{registry, nullptr, {}};
    shortcuts.triggerRoute = {.route = GetParam().route,
                              .assignedTrigger = [] { return QStringLiteral("Ctrl+Alt+Space"); },
                              .gnomeEntryInstalled = [&] { return gnomeEntry; },
                              .installGnomeEntry = [&]() -> std::optional<QString> {
                                  gnomeEntry = true;
                                  return std::nullopt;
                              }};
    QApplication::clipboard()->clear();
    OnboardingView view({}, shortcuts);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    if (GetParam().button != nullptr) {
        auto* button = view.findChild<QPushButton*>(QString::fromLatin1(GetParam().button));
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(button->isVisible(), GetParam().route == platform::desktop::TriggerRoute::manualCommand);
    }
    EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("triggerRouteText"))->text().contains(GetParam().text));
    EXPECT_EQ(QApplication::clipboard()->text(), GetParam().clipboard);
}

INSTANTIATE_TEST_SUITE_P(Routes, TriggerRouteStep,
                         ::testing::Values(RouteCase{"ThePortalsAssignedKeys", platform::desktop::TriggerRoute::portal,
                                                     nullptr, QStringLiteral("assigned: Ctrl+Alt+Space"), QString()},
                                           RouteCase{"GnomesCustomShortcutAddedByTheButton",
                                                     platform::desktop::TriggerRoute::gnomeCustomShortcut,
                                                     "addGnomeShortcut", QStringLiteral("Custom Shortcuts"), QString()},
                                           RouteCase{"TheCommandToBindWithACopyButton",
                                                     platform::desktop::TriggerRoute::manualCommand,
                                                     "copyTriggerCommand", QStringLiteral("bind this command"),
                                                     QStringLiteral("norik trigger")}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::app
