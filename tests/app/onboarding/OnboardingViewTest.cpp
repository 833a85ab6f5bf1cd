// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/onboarding/OnboardingView.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
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

using platform::desktop::TriggerRoute;

// Step 1 turns done once Norik can send Copy, step 3 shows the review shortcut and, where Norik's own grab does not
// reach every window, how the shortcut reaches Norik there: the keys the desktop assigned, an entry to add to
// GNOME's shortcuts, or a command to copy.
TEST(OnboardingViewTest, TheStepsActAndReturnIsGetStartedWhichCompletes) {
    tests::TemporaryFolder folder;
    core::SettingsStore settings(folder.path() / "settings.json");
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry(settings, hotKeys);
    registry.declare(core::shortcuts::reviewSelection());
    RecorderContext shortcuts{registry, nullptr, {}};
    bool canSendCopy = false;
    int done = 0;
    OnboardingView view(
        {.onDone = [&] { ++done; }, .openSettings = {}, .canSendCopy = [&] { return canSendCopy; }, .explainCopy = {}},
        shortcuts);
    view.show();
    EXPECT_FALSE(view.copyGranted());
    canSendCopy = true;
    ASSERT_TRUE(tests::waitUntil([&] { return view.copyGranted(); }));
    EXPECT_EQ(view.findChild<QLineEdit*>(QStringLiteral("shortcutRecorder"))->text(), QStringLiteral("Ctrl+Alt+Space"));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(done, 1);

    for (const auto route : {TriggerRoute::portal, TriggerRoute::gnomeCustomShortcut, TriggerRoute::manualCommand}) {
        bool gnomeEntry = false;
        shortcuts.triggerRoute = {.route = route,
                                  .assignedTrigger = [] { return QStringLiteral("Ctrl+Shift+R"); },
                                  .gnomeEntryInstalled = [&] { return gnomeEntry; },
                                  .installGnomeEntry = [&] { return (gnomeEntry = true), std::optional<QString>(); }};
        const OnboardingView routeStep({}, shortcuts);
        for (auto* offered : routeStep.findChildren<QPushButton*>(QRegularExpression("addGnome|copyTrigger"))) {
            offered->click();
        }
        EXPECT_EQ(gnomeEntry, route == TriggerRoute::gnomeCustomShortcut);
        EXPECT_EQ(QApplication::clipboard()->text() == "norik trigger", route == TriggerRoute::manualCommand);
        const auto* text = routeStep.findChild<QLabel*>(QStringLiteral("triggerRouteText"));
        EXPECT_EQ(text->text().contains("Ctrl+Shift+R"), route == TriggerRoute::portal);
    }
}

} // namespace
} // namespace norik::app
