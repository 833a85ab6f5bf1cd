// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/SettingsView.h"

#include <filesystem>
#include <memory>
#include <string>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/settings/AutostartSwitch.h"
#include "app/settings/ModelListRefresh.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/secret/FileSecretStore.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using core::LLMProvider;
using norik::tests::settleWorkers;
using norik::tests::waitUntil;

// Real files in a folder of the test's own: the settings file, the history database; the listings go to a
// loopback server that answers 404 unless a test scripts it, and the local server's to a port that refuses.
class SettingsViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.set("localEndpoint", "http://127.0.0.1:" + std::to_string(test::refusedPort())));
    }

    SettingsView& view() {
        if (!m_view) {
            m_view = std::make_unique<SettingsView>(
                settings, secrets, preferences, history, recorderContext,
                ModelListRefresh::BaseUrls{.anthropic = server.baseUrl(), .openAI = server.baseUrl() + "/v1"});
            m_view->show();
        }
        return *m_view;
    }

    template <typename Widget = QLineEdit> Widget* field(const char* name) {
        auto* widget = view().findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // As the user picks a row: only `activated` counts as a choice.
    void pick(const char* name, const QString& row) {
        auto* combo = field<QComboBox>(name);
        const int index = combo->findText(row);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    void replaceText(const char* name, const QString& text) {
        field(name)->selectAll();
        QTest::keyClick(field(name), Qt::Key_Backspace);
        QTest::keyClicks(field(name), text);
    }

    tests::TemporaryFolder folder;
    test::LoopbackServer server;
    core::SettingsStore settings{folder.path() / "config" / "settings.json"};
    platform::FileSecretStore secrets{folder.path() / "keys" / "secrets.json"};
    core::Preferences preferences{settings, secrets};
    core::NorikStore store{folder.path() / "norik.store"};
    core::HistoryStore history{store};
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry{settings, hotKeys};
    RecorderContext recorderContext{registry, nullptr, {}};

private:
    std::unique_ptr<SettingsView> m_view;
};

TEST_F(SettingsViewTest, WhatTheUserEditsIsStoredEachProviderWithItsOwnKeyAndModel) {
    ASSERT_TRUE(secrets.store("sk-ant-1", "apiKey.anthropic"));
    EXPECT_EQ(field("apiKey")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-ant-1"));
    const QString anthropicModel = field("model")->text();

    pick("provider", QStringLiteral("OpenAI"));
    EXPECT_EQ(settings.string("provider"), "openAI");
    QTest::keyClicks(field("apiKey"), QStringLiteral("sk-oa"));
    EXPECT_EQ(secrets.read("apiKey.openAI"), "sk-oa");
    replaceText("model", QStringLiteral("gpt-4.1"));
    EXPECT_EQ(settings.string("model.openAI"), "gpt-4.1");

    pick("provider", QStringLiteral("Local"));
    replaceText("localEndpoint", QStringLiteral("http://127.0.0.1:9"));
    EXPECT_EQ(settings.string("localEndpoint"), "http://127.0.0.1:9");
    pick("provider", QStringLiteral("Anthropic"));
    EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-ant-1"));
    EXPECT_EQ(field("model")->text(), anthropicModel);
    EXPECT_FALSE(settings.string("model.anthropic")) << "switching providers stores no model";

    pick("provider", QStringLiteral("OpenAI"));
    EXPECT_EQ(field("model")->text(), QStringLiteral("gpt-4.1"));
    replaceText("apiKey", QString());
    EXPECT_FALSE(secrets.read("apiKey.openAI")) << "a cleared key is deleted";
    EXPECT_EQ(secrets.read("apiKey.anthropic"), "sk-ant-1");

    pick("retention", QStringLiteral("Off"));
    EXPECT_EQ(settings.integer("retentionLimit"), 0);
    replaceText("explanationLanguage", QString());
    EXPECT_EQ(settings.string("explanationLanguage"), "") << "an emptied field is stored empty, not as the default";
}

TEST_F(SettingsViewTest, ListedModelsTurnTheModelIntoAPickerThatKeepsTheChoice) {
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"claude-sonnet-4-5"},{"id":"claude-opus-4-1"}]})");
    QTest::keyClicks(field("apiKey"), QStringLiteral("sk-ant"));
    ASSERT_TRUE(waitUntil([&] { return field<QComboBox>("modelPicker")->isVisible(); }));
    EXPECT_EQ(settings.string("model.anthropic"), "claude-sonnet-4-5") << "a model that is not offered gives way";
    ASSERT_EQ(server.requests().size(), 1U) << "keys typed faster than the pause make one listing";

    pick("modelPicker", QStringLiteral("claude-opus-4-1"));
    EXPECT_EQ(settings.string("model.anthropic"), "claude-opus-4-1");

    replaceText("apiKey", QString());
    ASSERT_TRUE(waitUntil([&] { return field("model")->isVisible(); })) << "no key, no listing: free text again";
    EXPECT_EQ(field("model")->text(), QStringLiteral("claude-opus-4-1"));
}

TEST_F(SettingsViewTest, ClearHistoryClearsOnlyOnceConfirmedAndCancelIsTheDefault) {
    core::TutorResult review;
    review.issues = {{"goed", "Irregular past tense.", "grammar"}};
    ASSERT_TRUE(history.record(review, "I goed home.", 200));
    field<QPushButton>("clearHistory")->click();
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = view().findChild<QMessageBox*>()) != nullptr && box->isVisible(); }));
    EXPECT_EQ(history.recentCorrections(10).size(), 1U) << "asked first";
    EXPECT_EQ(box->buttonRole(box->defaultButton()), QMessageBox::RejectRole);
    const auto buttons = box->buttons();
    const auto role = [&](QAbstractButton* button) { return box->buttonRole(button); };
    (*std::ranges::find(buttons, QMessageBox::DestructiveRole, role))->click();
    EXPECT_TRUE(history.recentCorrections(10).empty());
    EXPECT_TRUE(history.allCategoryCounts().empty());
}

TEST_F(SettingsViewTest, AnotherProcessesChangesShowWithoutBeingWrittenBackOrOverTheUsersTyping) {
    view().showAndRaise();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
    QLineEdit* language = field("explanationLanguage");
    language->setFocus();
    ASSERT_TRUE(waitUntil([&] { return language->hasFocus(); }));
    replaceText("explanationLanguage", QStringLiteral("Fren"));
    core::SettingsStore other(settings.path());
    ASSERT_TRUE(other.set("explanationLanguage", "Spanish"));
    ASSERT_TRUE(other.set("provider", "local"));
    ASSERT_TRUE(other.set("retentionLimit", std::int64_t{75}));
    ASSERT_TRUE(waitUntil([&] { return field<QComboBox>("retention")->currentText() == QStringLiteral("Last 75"); }));
    EXPECT_EQ(field<QComboBox>("provider")->currentText(), QStringLiteral("Local"));
    EXPECT_EQ(language->text(), QStringLiteral("Fren"));
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(other.string("explanationLanguage"), "Spanish");
    EXPECT_FALSE(other.string("model.local")) << "nothing the window read was written back";
}

TEST_F(SettingsViewTest, ProblemsAndAKeyTheStoreRefusesShowInTheWindowOnlyWhileThereAreSome) {
    const std::filesystem::path blocked = secrets.path().parent_path();
    tests::writeFile(blocked, "");
    const auto* area = field<QLabel>("problems");
    view().setProblems({QStringLiteral("History is unavailable.")});
    EXPECT_TRUE(area->isVisible() && area->text().contains(QStringLiteral("History is unavailable.")));
    view().setProblems({});
    EXPECT_FALSE(area->isVisible());

    field("apiKey")->setFocus();
    QTest::keyClicks(field("apiKey"), QStringLiteral("k"));
    const auto* keyError = field<QLabel>("keyError");
    EXPECT_TRUE(keyError->isVisible() && keyError->text().contains(QString::fromStdString(blocked.string())));
}

// What a listing holds is the providers' test, and that typing lists once the settings window's; here, which
// job may report (a cancelled one is a restarted one without its successor). The worker outlives the object at the end:
// ASan reports it if its answer reaches the freed object.
TEST_F(SettingsViewTest, OnlyTheNewestModelListingReportsAndACancelledOrDestroyedOneNothing) {
    server.respondSlowly("GET", "/older/api/tags", 3s, 200, R"({"models":[{"name":"older"}]})");
    server.respond("GET", "/api/tags", 200, R"({"models":[{"name":"newer"}]})");
    auto refresh = std::make_unique<ModelListRefresh>();
    QSignalSpy spy(refresh.get(), &ModelListRefresh::modelsListed);

    refresh->restart(LLMProvider::local, "", server.baseUrl() + "/older");
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
    refresh->restart(LLMProvider::local, "", server.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }));
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(spy.count(), 1) << "the job restarted while it fetched was dropped";
    EXPECT_EQ(spy.at(0).at(0).toStringList(), QStringList{QStringLiteral("newer")});

    server.neverAnswer("GET", "/api/tags");
    refresh->restart(LLMProvider::local, "", server.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 3; }));
    refresh.reset();
    // Without the stop the fetch would wait for this server, which never answers, until its own time-out.
    EXPECT_TRUE(settleWorkers());
}

TEST_F(SettingsViewTest, AutostartClicksWriteAndRemoveTheEntryAndTheSwitchShowsWhatIsOnDisk) {
    const std::filesystem::path entry = folder.path() / "autostart" / "dev.norik.Norik.desktop";
    AutostartSwitch toggle{platform::Autostart(entry, "/usr/bin/norik")};
    tests::writeFile(entry.parent_path(), "a file where the folder belongs");
    toggle.show();
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked()) << "an entry that cannot be written leaves the switch off";
    EXPECT_TRUE(toggle.toolTip().contains(QString::fromStdString(entry.parent_path().string()))) << "and says where";

    std::filesystem::remove(entry.parent_path());
    for (const bool on : {true, false, true}) {
        QTest::mouseClick(&toggle, Qt::LeftButton);
        EXPECT_EQ(toggle.isChecked(), on);
        EXPECT_EQ(std::filesystem::exists(entry), on);
    }
    std::filesystem::remove(entry);
    EXPECT_TRUE(waitUntil([&] { return !toggle.isChecked(); })) << "removed by hand";
}

} // namespace
} // namespace norik::app
