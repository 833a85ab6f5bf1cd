// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/SettingsView.h"

#include <memory>
#include <string>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SettingsTesting.h"

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/secret/FileSecretStore.h"

#include "support/LoopbackServer.h"

namespace norik::app {
namespace {

using testing::waitUntil;

constexpr auto kAnthropicModels = R"({"data":[{"id":"claude-sonnet-4-5"},{"id":"claude-opus-4-1"}]})";

// Real files in a folder of the test's own: the settings file, the history database; the listings go to a
// loopback server that answers 404 unless a test scripts it.
class SettingsViewTest : public ::testing::Test {
protected:
    SettingsViewTest()
        : settings(dir.filePath(QStringLiteral("config/settings.json")).toStdString()), preferences(settings, secrets),
          store(dir.filePath(QStringLiteral("norik.store")).toStdString()), history(store) {}

    SettingsView& view() {
        if (!m_view) {
            m_view = std::make_unique<SettingsView>(
                settings, secrets, preferences, history, recorderContext,
                ModelListRefresh::BaseUrls{.anthropic = server.baseUrl(), .openAI = server.baseUrl() + "/v1"});
        }
        return *m_view;
    }

    template <typename Widget> Widget* child(const char* name) {
        auto* widget = view().findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QLineEdit* field(const char* name) { return child<QLineEdit>(name); }
    QComboBox* picker(const char* name) { return child<QComboBox>(name); }

    // As the user picks a row: only `activated` counts as a choice.
    void pick(const char* name, const QString& row) {
        QComboBox* combo = picker(name);
        const int index = combo->findText(row);
        ASSERT_GE(index, 0) << row.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    void replaceText(const char* name, const QString& text) {
        QLineEdit* edit = field(name);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }

    [[nodiscard]] std::optional<std::string> stored(std::string_view key) const { return settings.string(key); }

    QTemporaryDir dir;
    test::LoopbackServer server;
    core::SettingsStore settings;
    platform::MemorySecretStore secrets;
    core::Preferences preferences;
    core::NorikStore store;
    core::HistoryStore history;
    platform::FakeHotKeyBackend hotKeys;
    core::shortcuts::Registry registry{settings, hotKeys};
    RecorderContext recorderContext{registry, nullptr, {}};

private:
    std::unique_ptr<SettingsView> m_view;
};

TEST_F(SettingsViewTest, FirstOpenShowsTheDefaultsAndWritesNothing) {
    view().show();
    EXPECT_EQ(view().windowTitle(), QStringLiteral("Norik Settings"));
    EXPECT_EQ(view().width(), SettingsView::kContentWidth);
    EXPECT_TRUE(child<QLineEdit>("shortcutRecorder")->text().isEmpty()) << "nothing declared the shortcut";
    EXPECT_EQ(picker("provider")->currentText(), QStringLiteral("Anthropic"));
    EXPECT_TRUE(field("apiKey")->isVisible());
    EXPECT_EQ(field("apiKey")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(field("apiKey")->text().isEmpty());
    EXPECT_FALSE(field("localEndpoint")->isVisible());
    EXPECT_EQ(field("localEndpoint")->text(), QStringLiteral("http://127.0.0.1:11434"));
    EXPECT_TRUE(field("model")->isVisible());
    EXPECT_FALSE(picker("modelPicker")->isVisible());
    EXPECT_EQ(field("model")->text(), QStringLiteral("claude-haiku-4-5-20251001"));
    EXPECT_EQ(field("explanationLanguage")->text(), QStringLiteral("English"));
    EXPECT_EQ(picker("retention")->currentText(), QStringLiteral("Last 200"));
    EXPECT_EQ(picker("retention")->count(), 4);
    EXPECT_EQ(child<QPushButton>("clearHistory")->text(), QStringLiteral("Clear history\u2026"));
    EXPECT_TRUE(child<QCheckBox>("startAtLogin")->isVisible());

    // Showing reads the defaults without storing them: they stay defaults.
    EXPECT_TRUE(settings.all().empty());
    EXPECT_FALSE(secrets.read("apiKey.anthropic"));
}

TEST_F(SettingsViewTest, EachProviderKeepsItsOwnKeyAndModel) {
    ASSERT_TRUE(secrets.store("sk-ant-1", "apiKey.anthropic"));
    ASSERT_TRUE(settings.set("localEndpoint", "http://127.0.0.1:" + std::to_string(test::refusedPort())));
    view().show();
    EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-ant-1"));

    pick("provider", QStringLiteral("OpenAI"));
    EXPECT_EQ(stored("provider"), "openAI");
    EXPECT_TRUE(field("apiKey")->text().isEmpty());
    EXPECT_EQ(field("model")->text(), QStringLiteral("gpt-4o-mini"));
    QTest::keyClicks(field("apiKey"), QStringLiteral("sk-oa"));
    EXPECT_EQ(secrets.read("apiKey.openAI"), "sk-oa");
    replaceText("model", QStringLiteral("gpt-4.1"));
    EXPECT_EQ(stored("model.openAI"), "gpt-4.1");

    pick("provider", QStringLiteral("Local"));
    EXPECT_EQ(stored("provider"), "local");
    EXPECT_FALSE(field("apiKey")->isVisible());
    EXPECT_TRUE(field("localEndpoint")->isVisible());
    EXPECT_TRUE(field("model")->text().isEmpty());

    pick("provider", QStringLiteral("Anthropic"));
    EXPECT_TRUE(field("apiKey")->isVisible());
    EXPECT_FALSE(field("localEndpoint")->isVisible());
    EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-ant-1"));
    EXPECT_EQ(field("model")->text(), QStringLiteral("claude-haiku-4-5-20251001"));
    EXPECT_EQ(secrets.read("apiKey.openAI"), "sk-oa");
    EXPECT_FALSE(stored("model.anthropic")) << "switching providers stores no model";
    EXPECT_FALSE(stored("model.local"));

    pick("provider", QStringLiteral("OpenAI"));
    EXPECT_EQ(field("model")->text(), QStringLiteral("gpt-4.1"));
    EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-oa"));

    {
        SCOPED_TRACE("clearing the key deletes the current provider's item only");
        replaceText("apiKey", QString());
        EXPECT_FALSE(secrets.read("apiKey.openAI"));
        EXPECT_EQ(secrets.read("apiKey.anthropic"), "sk-ant-1");
    }
}

TEST_F(SettingsViewTest, ListedModelsTurnTheModelIntoAPicker) {
    server.respond("GET", "/v1/models", 200, kAnthropicModels);
    view().show();

    {
        SCOPED_TRACE("a stored model that is not offered gives way to the first offered one");
        QTest::keyClicks(field("apiKey"), QStringLiteral("sk-ant"));
        ASSERT_TRUE(waitUntil([&] { return picker("modelPicker")->isVisible(); }));
        EXPECT_FALSE(field("model")->isVisible());
        const QComboBox* models = picker("modelPicker");
        ASSERT_EQ(models->count(), 2);
        EXPECT_EQ(models->itemText(0), QStringLiteral("claude-sonnet-4-5"));
        EXPECT_EQ(models->itemText(1), QStringLiteral("claude-opus-4-1"));
        EXPECT_EQ(models->currentText(), QStringLiteral("claude-sonnet-4-5"));
        EXPECT_EQ(stored("model.anthropic"), "claude-sonnet-4-5");
        // The keystrokes came faster than the pause: one listing, with the whole key.
        ASSERT_EQ(server.requests().size(), 1U);
        EXPECT_EQ(server.requests().front().header("x-api-key"), "sk-ant");
    }
    {
        SCOPED_TRACE("a picked model is stored, and kept when the window opens again");
        pick("modelPicker", QStringLiteral("claude-opus-4-1"));
        EXPECT_EQ(stored("model.anthropic"), "claude-opus-4-1");
        view().close();
        view().show();
        EXPECT_TRUE(field("model")->isVisible()) << "the list is fetched anew for each showing";
        ASSERT_TRUE(waitUntil([&] { return picker("modelPicker")->isVisible(); }));
        EXPECT_EQ(picker("modelPicker")->currentText(), QStringLiteral("claude-opus-4-1"));
        EXPECT_EQ(stored("model.anthropic"), "claude-opus-4-1");
    }
    {
        SCOPED_TRACE("an empty key lists nothing: back to the free-text field");
        replaceText("apiKey", QString());
        ASSERT_TRUE(waitUntil([&] { return field("model")->isVisible(); }));
        EXPECT_EQ(field("model")->text(), QStringLiteral("claude-opus-4-1"));
    }
    {
        SCOPED_TRACE("the local server's models, listed from the endpoint being typed");
        server.respond("GET", "/api/tags", 200, R"({"models":[{"name":"llama3:8b"},{"name":"gemma2:2b"}]})");
        pick("provider", QStringLiteral("Local"));
        replaceText("localEndpoint", QString::fromStdString(server.baseUrl()));
        EXPECT_EQ(stored("localEndpoint"), server.baseUrl());
        ASSERT_TRUE(waitUntil([&] { return picker("modelPicker")->currentText() == QStringLiteral("gemma2:2b"); }));
        EXPECT_EQ(stored("model.local"), "gemma2:2b");
        EXPECT_EQ(stored("model.anthropic"), "claude-opus-4-1");
    }
}

TEST_F(SettingsViewTest, RetentionAndLanguageAreStoredAsEdited) {
    view().show();
    pick("retention", QStringLiteral("Off"));
    EXPECT_EQ(settings.integer("retentionLimit"), 0);
    pick("retention", QStringLiteral("Last 1000"));
    EXPECT_EQ(settings.integer("retentionLimit"), 1000);
    pick("retention", QStringLiteral("Last 50"));
    EXPECT_EQ(preferences.retentionLimit(), 50);

    replaceText("explanationLanguage", QStringLiteral("Deutsch"));
    EXPECT_EQ(stored("explanationLanguage"), "Deutsch");
    {
        SCOPED_TRACE("an emptied field is stored empty, not as the default");
        replaceText("explanationLanguage", QString());
        EXPECT_EQ(stored("explanationLanguage"), "");
    }
}

TEST_F(SettingsViewTest, ClearHistoryAsksFirst) {
    core::TutorResult review{.language = "en",
                             .corrected = "I went home.",
                             .improved = "I went home.",
                             .issues = {{"goed", "Irregular past tense.", "grammar"}},
                             .score = 6};
    history.record(review, "I goed home.", 200);
    ASSERT_EQ(history.recentCorrections(10).size(), 1U);
    view().show();

    const auto confirmation = [&] { return view().findChild<QMessageBox*>(); };
    const auto answer = [&](const QString& text) {
        child<QPushButton>("clearHistory")->click();
        ASSERT_TRUE(waitUntil([&] { return confirmation() != nullptr && confirmation()->isVisible(); }));
        QMessageBox* box = confirmation();
        EXPECT_EQ(box->text(), QStringLiteral("Clear all stored corrections and mistake stats?"));
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove(u'&') == text) {
                chosen = button;
            }
        }
        ASSERT_NE(chosen, nullptr) << text.toStdString();
        if (text == QStringLiteral("Clear history")) {
            EXPECT_EQ(box->buttonRole(chosen), QMessageBox::DestructiveRole);
        }
        chosen->click();
        ASSERT_TRUE(waitUntil([&] { return confirmation() == nullptr; }));
    };

    answer(QStringLiteral("Cancel"));
    EXPECT_EQ(history.recentCorrections(10).size(), 1U);
    EXPECT_EQ(history.allCategoryCounts().size(), 1U);

    answer(QStringLiteral("Clear history"));
    EXPECT_TRUE(history.recentCorrections(10).empty());
    EXPECT_TRUE(history.allCategoryCounts().empty());
}

TEST_F(SettingsViewTest, AnotherProcessesChangesShowWithoutBeingWrittenBack) {
    view().showAndRaise();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));

    // Another process: its own store on the same file.
    core::SettingsStore other(settings.path());
    ASSERT_TRUE(other.set("provider", "local"));
    ASSERT_TRUE(other.set("localEndpoint", "http://127.0.0.1:" + std::to_string(test::refusedPort())));
    ASSERT_TRUE(other.set("retentionLimit", std::int64_t{75}));
    ASSERT_TRUE(waitUntil([&] { return picker("retention")->currentText() == QStringLiteral("Last 75"); }));
    EXPECT_EQ(picker("provider")->currentText(), QStringLiteral("Local"));
    EXPECT_TRUE(field("localEndpoint")->isVisible());
    EXPECT_FALSE(field("apiKey")->isVisible());
    EXPECT_EQ(field("localEndpoint")->text(), QString::fromStdString(*other.string("localEndpoint")));

    {
        SCOPED_TRACE("the field being typed in keeps the user's text");
        QLineEdit* language = field("explanationLanguage");
        language->setFocus();
        ASSERT_TRUE(waitUntil([&] { return language->hasFocus(); }));
        replaceText("explanationLanguage", QStringLiteral("Fren"));
        ASSERT_TRUE(other.set("explanationLanguage", "Spanish"));
        ASSERT_TRUE(other.set("retentionLimit", std::int64_t{1000}));
        ASSERT_TRUE(waitUntil([&] { return picker("retention")->currentText() == QStringLiteral("Last 1000"); }));
        EXPECT_EQ(language->text(), QStringLiteral("Fren"));
        EXPECT_EQ(picker("retention")->count(), 4) << "the row of the odd value goes with it";
    }

    {
        SCOPED_TRACE("a provider text the window does not know selects no row and works as Anthropic");
        ASSERT_TRUE(other.set("provider", "Local"));
        ASSERT_TRUE(waitUntil([&] { return picker("provider")->currentIndex() == -1; }));
        EXPECT_TRUE(field("apiKey")->isVisible());
        EXPECT_FALSE(field("localEndpoint")->isVisible());
        EXPECT_EQ(field("model")->text(), QStringLiteral("claude-haiku-4-5-20251001"));
    }

    // Nothing the window read was written back: the other process's values and no model were stored.
    testing::settleWorkers();
    EXPECT_EQ(other.string("explanationLanguage"), "Spanish");
    EXPECT_EQ(other.string("provider"), "Local");
    EXPECT_FALSE(other.string("model.local"));
    EXPECT_FALSE(other.string("model.anthropic"));
}

TEST_F(SettingsViewTest, ShowAndRaiseBringsTheOneWindowBack) {
    view().showAndRaise();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
    QTest::keyClicks(field("apiKey"), QStringLiteral("sk-typed"));

    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_FALSE(view().isActiveWindow());

    {
        SCOPED_TRACE("an open window comes to the front as it is");
        view().showAndRaise();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
        EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-typed"));
    }
    {
        SCOPED_TRACE("a closed window is only hidden, and shows what is stored when it comes back");
        const QPointer<SettingsView> window(&view());
        view().close();
        EXPECT_FALSE(view().isVisible());
        ASSERT_TRUE(secrets.store("sk-stored-elsewhere", "apiKey.anthropic"));
        view().showAndRaise();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
        EXPECT_EQ(window.data(), &view());
        EXPECT_EQ(field("apiKey")->text(), QStringLiteral("sk-stored-elsewhere"));
    }
}

TEST_F(SettingsViewTest, ProblemsShowAboveTheSettingsOnlyWhileThereAreSome) {
    view().show();
    const auto* area = view().findChild<QLabel*>(QStringLiteral("problems"));
    ASSERT_NE(area, nullptr);
    EXPECT_FALSE(area->isVisible());
    const QStringList problems{QStringLiteral("History is unavailable."), QStringLiteral("Keys are unencrypted.")};
    view().setProblems(problems);
    EXPECT_TRUE(area->isVisible());
    EXPECT_EQ(area->text(), problems.join(QLatin1Char('\n')));
    view().setProblems({});
    EXPECT_FALSE(area->isVisible());
}

TEST_F(SettingsViewTest, AKeyTheStoreRefusesIsReportedInTheWindow) {
    const QString blocked = dir.filePath(QStringLiteral("not-a-folder"));
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    platform::FileSecretStore refusing((blocked + QStringLiteral("/secrets.json")).toStdString());
    SettingsView window(settings, refusing, preferences, history, recorderContext,
                        ModelListRefresh::BaseUrls{.anthropic = server.baseUrl(), .openAI = server.baseUrl() + "/v1"});
    window.show();
    auto* key = window.findChild<QLineEdit*>(QStringLiteral("apiKey"));
    const auto* error = window.findChild<QLabel*>(QStringLiteral("keyError"));
    ASSERT_NE(key, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(error->isVisible());
    key->setFocus();
    QTest::keyClicks(key, QStringLiteral("k"));
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->text().startsWith(QStringLiteral("The API key was not stored: ")))
        << error->text().toStdString();
}

} // namespace
} // namespace norik::app
