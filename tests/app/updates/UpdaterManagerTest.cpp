// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/updates/UpdaterManager.h"

#include <chrono>
#include <functional>
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
#include "core/preferences/Preferences.h"
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
    PageCatcher(const PageCatcher&) = delete;
    PageCatcher& operator=(const PageCatcher&) = delete;

    std::vector<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

class UpdaterManagerTest : public testing::Test {
protected:
    void TearDown() override { m_manager.reset(); }

    UpdaterManager& manager(const std::string& builtInFeed = {}, std::chrono::milliseconds recheck = 1h) {
        m_manager = std::make_unique<UpdaterManager>(m_settings, UpdaterManager::Options{.installedVersion = "1.9.2",
                                                                                         .builtInFeedUrl = builtInFeed,
                                                                                         .recheckInterval = recheck});
        return *m_manager;
    }
    [[nodiscard]] std::string feed() const { return m_server.baseUrl() + "/feed.json"; }
    void useFeed() { ASSERT_TRUE(m_settings.set(core::kUpdateFeedUrlKey, feed())); }
    void serve(const std::string& version, const std::string& notes = {}) {
        m_server.respond("GET", "/feed.json", 200,
                         R"({"version": ")" + version + R"(", "url": "https://norik.dev/releases/)" + version +
                             R"(", "notes": ")" + notes + R"("})");
    }

    static UpdateDialog* dialog() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<UpdateDialog*>(widget); found != nullptr && found->isVisible()) {
                return found;
            }
        }
        return nullptr;
    }
    static int visibleDialogCount() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            count += qobject_cast<UpdateDialog*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
        }
        return count;
    }
    static QString text(const char* label) {
        const auto* shown = dialog() != nullptr ? dialog()->findChild<QLabel*>(QString::fromLatin1(label)) : nullptr;
        return shown != nullptr && shown->isVisible() ? shown->text() : QString();
    }
    static QPushButton* openPageButton() {
        return dialog() != nullptr ? dialog()->findChild<QPushButton*>(QStringLiteral("openPage")) : nullptr;
    }
    // The dialog's answer once "Checking for updates…" has been replaced.
    static QString answer() {
        EXPECT_TRUE(waitUntil([] { return dialog() != nullptr && text("message") != "Checking for updates…"; }));
        return text("message");
    }

    tests::TemporaryFolder m_folder;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    test::LoopbackServer m_server;
    std::unique_ptr<UpdaterManager> m_manager;
};

TEST_F(UpdaterManagerTest, ANewerVersionIsShownWithItsNotesAndItsButtonOpensThePage) {
    useFeed();
    serve("1.10.0", "Reviews in Welsh. <a href='file:///etc'>x</a>");
    PageCatcher browser;
    manager().checkForUpdates();
    EXPECT_EQ(answer(), "Norik 1.10.0 is available; you have version 1.9.2.");
    EXPECT_EQ(text("details"), "Reviews in Welsh. <a href='file:///etc'>x</a>");
    EXPECT_EQ(dialog()->findChild<QLabel*>(QStringLiteral("details"))->textFormat(), Qt::PlainText);
    QPushButton* open = openPageButton();
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(open->isVisible());
    QTest::mouseClick(open, Qt::LeftButton);
    ASSERT_EQ(browser.opened.size(), 1U);
    EXPECT_EQ(browser.opened.front(), QUrl(QStringLiteral("https://norik.dev/releases/1.10.0")));
    EXPECT_EQ(dialog(), nullptr) << "the dialog stays after the page was opened";
}

TEST_F(UpdaterManagerTest, AFeedThatCannotBeReadSaysWhy) {
    useFeed();
    m_server.respond("GET", "/feed.json", 200, R"js({"version": "2.0", "url": "javascript:alert(1)"})js");
    manager().checkForUpdates();
    EXPECT_EQ(answer(), "The update feed could not be reached.");
    EXPECT_EQ(text("details"), "The update feed's page \"javascript:alert(1)\" is not an http or https address.");
    EXPECT_FALSE(openPageButton()->isVisible());
}

TEST_F(UpdaterManagerTest, WithoutAFeedThePackageManagerUpdatesAndTheSettingReplacesTheBuiltInOne) {
    manager().checkForUpdates();
    EXPECT_EQ(text("message"), "This copy of Norik is updated by your package manager.");
    EXPECT_TRUE(m_server.requests().empty());

    m_server.respond("GET", "/built-in.json", 200, R"({"version": "1.9.2", "url": "https://norik.dev/1.9.2"})");
    manager(m_server.baseUrl() + "/built-in.json").checkForUpdates();
    EXPECT_EQ(answer(), "Norik is up to date (version 1.9.2).");
    EXPECT_FALSE(openPageButton()->isVisible());
    useFeed();
    serve("2.0");
    m_manager->checkForUpdates();
    EXPECT_EQ(answer(), "Norik 2.0 is available; you have version 1.9.2.");
}

TEST_F(UpdaterManagerTest, ASecondClickDuringACheckNeitherChecksAgainNorStacksDialogs) {
    useFeed();
    m_server.respondSlowly("GET", "/feed.json", 300ms, 200, R"({"version": "1.9", "url": "https://norik.dev/"})");
    manager().checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    m_manager->checkForUpdates();
    EXPECT_EQ(visibleDialogCount(), 1);
    EXPECT_EQ(answer(), "Norik is up to date (version 1.9.2).");
    EXPECT_EQ(m_server.requests().size(), 1U);
    EXPECT_EQ(visibleDialogCount(), 1);
}

TEST_F(UpdaterManagerTest, AClosedDialogStaysClosedAndTheNextClickChecksAgain) {
    useFeed();
    m_server.respondSlowly("GET", "/feed.json", 100ms, 200, R"({"version": "1.9", "url": "https://norik.dev/"})");
    manager().checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    UpdateDialog* closed = dialog();
    ASSERT_NE(closed, nullptr);
    closed->close();
    serve("1.10");
    // The slow answer still arrives; it must not bring the closed dialog back.
    bool reopened = false;
    ASSERT_TRUE(waitUntil([&] {
        reopened = reopened || dialog() != nullptr;
        return closed->findChild<QLabel*>(QStringLiteral("message"))->text() != "Checking for updates…";
    }));
    EXPECT_FALSE(reopened);
    EXPECT_EQ(dialog(), nullptr);
    m_manager->checkForUpdates();
    EXPECT_EQ(answer(), "Norik 1.10 is available; you have version 1.9.2.");
    EXPECT_EQ(m_server.requests().size(), 2U);
}

TEST_F(UpdaterManagerTest, DestroyingTheManagerDuringACheckIsSafe) {
    useFeed();
    m_server.neverAnswer("GET", "/feed.json");
    manager().checkForUpdates();
    ASSERT_TRUE(m_server.waitForRequests(1));
    m_manager.reset();
    EXPECT_EQ(dialog(), nullptr);
    QTest::qWait(1); // let any stray queued answer run, under ASan
}

TEST_F(UpdaterManagerTest, AScheduledCheckAnnouncesANewerVersionOnceADayAndRecordsIt) {
    useFeed();
    serve("2.0");
    const auto before = std::chrono::system_clock::now();
    UpdaterManager& updater = manager({}, 20ms);
    QSignalSpy announced(&updater, &UpdaterManager::newerVersionAvailable);
    updater.start();
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 1; }));
    EXPECT_EQ(announced.front().at(0).toString(), "2.0");
    EXPECT_EQ(announced.front().at(1).toUrl(), QUrl(QStringLiteral("https://norik.dev/releases/2.0")));
    const auto recorded = core::updates::lastScheduledCheck(m_settings);
    ASSERT_TRUE(recorded.has_value());
    EXPECT_GE(*recorded, std::chrono::floor<std::chrono::seconds>(before));
    EXPECT_LE(*recorded, std::chrono::system_clock::now());
    EXPECT_EQ(dialog(), nullptr) << "a scheduled check is silent but for the signal";

    // The re-evaluations that follow find the check done for today.
    EXPECT_FALSE(updater.checkIfDue());
    ASSERT_TRUE(core::updates::recordScheduledCheck(m_settings, std::chrono::system_clock::now() - 23h));
    EXPECT_FALSE(updater.checkIfDue());
    EXPECT_EQ(m_server.requests().size(), 1U);
    EXPECT_EQ(announced.count(), 1);

    // A day later the timer checks again on its own.
    ASSERT_TRUE(core::updates::recordScheduledCheck(m_settings, std::chrono::system_clock::now() - 24h));
    ASSERT_TRUE(waitUntil([&] { return announced.count() == 2; }));
    EXPECT_EQ(m_server.requests().size(), 2U);
}

TEST_F(UpdaterManagerTest, AScheduledCheckIsSilentWithoutNewsAndNeverMadeWithoutAFeed) {
    UpdaterManager& updater = manager();
    QSignalSpy announced(&updater, &UpdaterManager::newerVersionAvailable);
    updater.start();
    EXPECT_FALSE(updater.checkIfDue());
    EXPECT_EQ(core::updates::lastScheduledCheck(m_settings), std::nullopt);

    useFeed();
    serve("1.9.2");
    ASSERT_TRUE(updater.checkIfDue());
    EXPECT_FALSE(updater.checkIfDue()) << "a second scheduled check while one runs";
    ASSERT_TRUE(waitUntil([&] { return core::updates::lastScheduledCheck(m_settings).has_value(); }));
    EXPECT_EQ(announced.count(), 0);
    EXPECT_EQ(dialog(), nullptr);
}

} // namespace
} // namespace norik::app

#include "UpdaterManagerTest.moc"
