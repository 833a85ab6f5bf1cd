// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/updates/UpdaterManager.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/updates/UpdateDialog.h"
#include "core/preferences/SettingsStore.h"
#include "core/updates/UpdateSchedule.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using norik::tests::waitUntil;

QWidgetList shownDialogs() {
    QWidgetList shown = QApplication::topLevelWidgets();
    shown.removeIf([](const QWidget* widget) {
        return qobject_cast<const UpdateDialog*>(widget) == nullptr || !widget->isVisible();
    });
    return shown;
}

// What the feed says and which versions are newer is the update check's test, and that the menu's item opens
// the dialog the coordinator's; here, what the user sees of a check.
class UpdaterManagerTest : public testing::Test {
protected:
    UpdaterManagerTest() {
        m_server.respondSlowly("GET", "/feed.json", 300ms, 200,
                               R"({"version": "1.10.0", "url": "https://norik.dev/1.10.0", "notes": "<b>Welsh</b>"})");
    }

    tests::TemporaryFolder m_folder;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    test::LoopbackServer m_server;
    UpdaterManager m_manager{m_settings, UpdaterManager::Options{"1.9.2", m_server.baseUrl() + "/feed.json", 20ms}};
};

TEST_F(UpdaterManagerTest, OneDialogAnswersAClosedOneStaysClosedAndANewerVersionOffersItsPage) {
    m_manager.checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    m_manager.checkForUpdates();
    ASSERT_EQ(shownDialogs().size(), 1) << "a second click during the check stacks no dialog";
    QWidget* dialog = shownDialogs().front();
    const auto* message = dialog->findChild<QLabel*>(QStringLiteral("message"));
    const QString checking = message->text();
    dialog->close();
    ASSERT_TRUE(waitUntil([&] { return message->text() != checking; }));
    EXPECT_TRUE(shownDialogs().empty()) << "the answer does not bring a closed dialog back";
    EXPECT_EQ(m_server.requests().size(), 1U) << "nor did the second click check again";

    m_manager.checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return m_server.requests().size() == 2 && message->text().contains("1.10.0"); }));
    const auto* notes = dialog->findChild<QLabel*>(QStringLiteral("details"));
    EXPECT_TRUE(notes->text() == QStringLiteral("<b>Welsh</b>") && notes->textFormat() == Qt::PlainText);
    EXPECT_TRUE(dialog->findChild<QPushButton*>(QStringLiteral("openPage"))->isVisible());
}

TEST_F(UpdaterManagerTest, TheScheduledCheckAnnouncesANewerVersionSilentlyOnceADay) {
    QSignalSpy announced(&m_manager, &UpdaterManager::newerVersionAvailable);
    m_manager.start();
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 1; }));
    EXPECT_EQ(announced.front().at(1).toUrl(), QUrl(QStringLiteral("https://norik.dev/1.10.0")));
    EXPECT_TRUE(shownDialogs().empty());
    EXPECT_FALSE(m_manager.checkIfDue()) << "done for today";

    ASSERT_TRUE(core::updates::recordScheduledCheck(m_settings, std::chrono::system_clock::now() - 24h));
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 2; })) << "a day later the timer checks on its own";
    EXPECT_EQ(m_server.requests().size(), 2U);
}

} // namespace
} // namespace norik::app
