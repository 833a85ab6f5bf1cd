// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/updates/UpdaterManager.h"

#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
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

// Receives what QDesktopServices::openUrl would hand to the browser.
class PageCatcher : public QObject {
    Q_OBJECT

public:
    PageCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~PageCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    std::vector<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// What the feed says is the update check's test; here, what the user sees of it.
class UpdaterManagerTest : public testing::Test {
protected:
    void serve(const std::string& version, std::chrono::milliseconds delay = {}) {
        m_server.respondSlowly("GET", "/feed.json", delay, 200,
                               R"({"version": ")" + version + R"(", "url": "https://norik.dev/releases/)" + version +
                                   R"(", "notes": "<b>Welsh</b>"})");
    }

    static QList<UpdateDialog*> shownDialogs() {
        QList<UpdateDialog*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            shown.append(widget->isVisible() ? qobject_cast<UpdateDialog*>(widget) : nullptr);
        }
        shown.removeAll(nullptr);
        return shown;
    }

    // Waits until the dialog's "Checking for updates…" gives way to the answer.
    static void waitForTheAnswer(const UpdateDialog* dialog) {
        const auto* message = dialog->findChild<QLabel*>(QStringLiteral("message"));
        const QString checking = message->text();
        ASSERT_TRUE(waitUntil([&] { return message->text() != checking; }));
    }

    tests::TemporaryFolder m_folder;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    test::LoopbackServer m_server;
    std::string m_feed = m_server.baseUrl() + "/feed.json";
    UpdaterManager m_manager{m_settings, UpdaterManager::Options{"1.9.2", m_feed, 20ms}};
};

TEST_F(UpdaterManagerTest, OneDialogAnswersAClosedOneStaysClosedAndANewerVersionsButtonOpensItsPage) {
    serve("1.9", 300ms);
    m_manager.checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    m_manager.checkForUpdates();
    ASSERT_EQ(shownDialogs().size(), 1) << "a second click during the check stacks no dialog";
    UpdateDialog* dialog = shownDialogs().front();
    dialog->close();
    waitForTheAnswer(dialog);
    EXPECT_TRUE(shownDialogs().empty()) << "the answer does not bring a closed dialog back";
    EXPECT_EQ(m_server.requests().size(), 1U) << "nor did the second click check again";

    serve("1.10.0");
    PageCatcher browser;
    m_manager.checkForUpdates();
    ASSERT_EQ(shownDialogs().size(), 1);
    waitForTheAnswer(dialog);
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("message"))->text().contains(QStringLiteral("1.10.0")));
    const auto* notes = dialog->findChild<QLabel*>(QStringLiteral("details"));
    EXPECT_EQ(notes->text(), QStringLiteral("<b>Welsh</b>"));
    EXPECT_EQ(notes->textFormat(), Qt::PlainText);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("openPage")), Qt::LeftButton);
    EXPECT_EQ(browser.opened, std::vector<QUrl>{QUrl(QStringLiteral("https://norik.dev/releases/1.10.0"))});
}

TEST_F(UpdaterManagerTest, WithoutAFeedNothingIsAskedAndADestroyedManagerStopsItsCheck) {
    auto manager = std::make_unique<UpdaterManager>(m_settings, UpdaterManager::Options{"1.9.2", "", 1h});
    manager->checkForUpdates();
    ASSERT_EQ(shownDialogs().size(), 1) << "the package manager updates this copy, and the dialog says so";
    EXPECT_FALSE(shownDialogs().front()->findChild<QPushButton*>(QStringLiteral("openPage"))->isVisible());
    EXPECT_FALSE(manager->checkIfDue());
    EXPECT_TRUE(m_server.requests().empty());

    m_server.neverAnswer("GET", "/feed.json");
    manager = std::make_unique<UpdaterManager>(m_settings, UpdaterManager::Options{"1.9.2", m_feed, 1h});
    manager->checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    manager.reset();
    EXPECT_TRUE(shownDialogs().empty());
}

TEST_F(UpdaterManagerTest, TheScheduledCheckAnnouncesANewerVersionSilentlyOnceADay) {
    serve("2.0");
    QSignalSpy announced(&m_manager, &UpdaterManager::newerVersionAvailable);
    m_manager.start();
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 1; }));
    EXPECT_EQ(announced.front().at(1).toUrl(), QUrl(QStringLiteral("https://norik.dev/releases/2.0")));
    EXPECT_TRUE(shownDialogs().empty());
    EXPECT_TRUE(core::updates::lastScheduledCheck(m_settings).has_value());
    EXPECT_FALSE(m_manager.checkIfDue()) << "done for today";

    ASSERT_TRUE(core::updates::recordScheduledCheck(m_settings, std::chrono::system_clock::now() - 24h));
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 2; })) << "a day later the timer checks on its own";
    EXPECT_EQ(m_server.requests().size(), 2U);
}

} // namespace
} // namespace norik::app

#include "UpdaterManagerTest.moc"
