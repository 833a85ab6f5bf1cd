// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/onboarding/OnboardingView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "core/preferences/SettingsStore.h"
#include "support/TestFiles.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"

namespace norik::app {
namespace {

// Step 1 follows whether Norik can send Copy within the poll; the other steps open the settings and show the
// review shortcut in a recorder.
TEST(OnboardingViewTest, StepOneTurnsDoneOnceCopyCanBeSentAndTheOtherStepsAct) {
    tests::TemporaryFolder folder;
    core::SettingsStore settings(folder.path() / "settings.json");
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry(settings, hotKeys, [](const core::shortcuts::Shortcut&) { return ""; });
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

} // namespace
} // namespace norik::app
