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

using platform::desktop::TriggerRoute;

// Step 1 turns done once Norik can send Copy, step 2 opens the settings, step 3 shows the review shortcut and,
// where Norik's own grab does not reach every window, how the shortcut reaches Norik there.
TEST(OnboardingViewTest, TheStepsActAndGetStartedIsWhatReturnPresses) {
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
    auto* grant = view.findChild<QPushButton*>(QStringLiteral("grant"));
    grant->click();
    EXPECT_EQ(explained, 1);
    canSendCopy = true;
    ASSERT_TRUE(tests::waitUntil([&] { return view.copyGranted(); }));
    EXPECT_FALSE(grant->isVisible());
    view.findChild<QPushButton*>(QStringLiteral("openSettings"))->click();
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(view.findChild<QLineEdit*>(QStringLiteral("shortcutRecorder"))->text(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_TRUE(view.findChild<QPushButton*>(QStringLiteral("getStarted"))->isDefault());

    const struct {
        TriggerRoute route;
        const char* button; // clicked, if any
        bool buttonStays;
        QString clipboard;
    } rows[] = {{TriggerRoute::portal, nullptr, false, {}},
                {TriggerRoute::gnomeCustomShortcut, "addGnomeShortcut", false, {}},
                {TriggerRoute::manualCommand, "copyTriggerCommand", true, QStringLiteral("norik trigger")}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.route));
        bool gnomeEntry = false;
        shortcuts.triggerRoute = {.route = row.route,
                                  .assignedTrigger = [] { return QStringLiteral("Ctrl+Alt+Space"); },
                                  .gnomeEntryInstalled = [&] { return gnomeEntry; },
                                  .installGnomeEntry = [&] { return (gnomeEntry = true), std::optional<QString>(); }};
        QApplication::clipboard()->clear();
        OnboardingView routeStep({}, shortcuts);
        routeStep.show();
        if (row.button != nullptr) {
            auto* button = routeStep.findChild<QPushButton*>(QString::fromLatin1(row.button));
            button->click();
            EXPECT_EQ(button->isVisible(), row.buttonStays);
        }
        EXPECT_EQ(gnomeEntry, row.route == TriggerRoute::gnomeCustomShortcut);
        EXPECT_EQ(routeStep.findChild<QLabel*>(QStringLiteral("triggerRouteText"))->text().contains("Ctrl+Alt+Space"),
                  row.route == TriggerRoute::portal)
            << "the keys the desktop assigned";
        EXPECT_EQ(QApplication::clipboard()->text(), row.clipboard);
    }
}

} // namespace
} // namespace norik::app
