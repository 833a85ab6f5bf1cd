// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppCoordinator.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/HotkeyManager.h"
#include "app/MenuBarContent.h"
#include "app/coordinator/TestDoubles.h"
#include "app/onboarding/OnboardingController.h"
#include "app/updates/UpdaterManager.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/LoopbackServer.h"

namespace norik::app::tests {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Kind = RecordingPresenter::Kind;

const std::string kCorrected = "I have an apple.";

// An Ollama chat answer carrying a tutor reply with two grammar issues and one spelling issue.
std::string chatReply() {
    const json reply = {
        {"language", "en"},
        {"corrected", kCorrected},
        {"improved", "I own an apple."},
        {"issues",
         {{{"excerpt", "has"}, {"explanation", "First person takes have."}, {"category", "Grammar"}},
          {{"excerpt", "a apple"}, {"explanation", "An before a vowel sound."}, {"category", "grammar"}},
          {{"excerpt", "appel"}, {"explanation", "Spelled apple."}, {"category", "spelling"}}}},
        {"score", 6},
    };
    return json{{"message", {{"role", "assistant"}, {"content", reply.dump()}}}}.dump();
}

// `count` user-perceived characters, among them emoji with modifiers, flags, ZWJ sequences and combining marks.
QString graphemeClusters(int count) {
    const std::vector<QString> clusters{QStringLiteral("a"), QString::fromUtf8("👍🏽"),
                                        QString::fromUtf8("e\u0301"), QString::fromUtf8("🇩🇪"),
                                        QString::fromUtf8("👨‍👩‍👧")};
    QString text;
    for (int index = 0; index < count; ++index) {
        text += clusters[static_cast<std::size_t>(index) % clusters.size()];
    }
    return text;
}

class AppCoordinatorTest : public testing::Test {
protected:
    AppCoordinatorTest() {
        set("provider", std::string("local"));
        set("model.local", std::string("tutor-model"));
        set("localEndpoint", m_server.baseUrl());
        m_server.respond("POST", "/api/chat", 200, chatReply());
        m_coordinator.emplace(m_presenter, m_capture, m_trust, m_history, m_preferences, m_registry);
    }

    void SetUp() override {
        ASSERT_TRUE(m_dataHomeSet);
        ASSERT_TRUE(m_store.isAvailable()) << m_store.unavailableReason();
        ASSERT_TRUE(m_store.location().string().starts_with(m_folder.path().toStdString()));
    }

    void TearDown() override {
        // The coordinator stops its review; its worker must be gone before the server and the stores are.
        m_coordinator.reset();
        EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
    }

    void set(std::string_view key, const core::SettingValue& value) {
        ASSERT_TRUE(m_settings.set(key, value).has_value()) << key;
    }

    AppCoordinator& coordinator() { return *m_coordinator; }

    bool waitForCalls(std::size_t count) {
        return waitUntil([&] { return m_presenter.calls().size() >= count; });
    }

    // Lets every model call that was started come back to the main thread, so that a test can say what did
    // not happen.
    void settle() {
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    // The user message of the index-th model request.
    std::string userMessage(std::size_t index) const {
        const auto requests = m_server.requests();
        EXPECT_GT(requests.size(), index);
        if (requests.size() <= index) {
            return {};
        }
        const json body = json::parse(requests[index].body);
        for (const json& message : body.at("messages")) {
            if (message.at("role") == "user") {
                return message.at("content").get<std::string>();
            }
        }
        ADD_FAILURE() << "no user message in request " << index;
        return {};
    }

    std::vector<std::string> storedSources() const {
        std::vector<std::string> sources;
        for (const core::StoredCorrection& correction : m_history.recentCorrections(100)) {
            sources.push_back(correction.source);
        }
        return sources;
    }

    std::optional<std::int64_t> categoryCount(std::string_view category) const {
        for (const core::CategoryCount& count : m_history.allCategoryCounts()) {
            if (count.category == category) {
                return count.count;
            }
        }
        return std::nullopt;
    }

    QTemporaryDir m_folder;
    // Before the store: the history file goes where XDG_DATA_HOME says.
    const bool m_dataHomeSet = ::setenv("XDG_DATA_HOME", qPrintable(m_folder.path()), 1) == 0;
    test::LoopbackServer m_server;
    core::SettingsStore m_settings{std::filesystem::path(m_folder.path().toStdString()) / "settings.json"};
    platform::MemorySecretStore m_secrets;
    core::Preferences m_preferences{m_settings, m_secrets};
    core::NorikStore m_store{core::NorikStore::defaultLocation()};
    core::HistoryStore m_history{m_store};
    platform::FakeHotKeyBackend m_backend;
    core::shortcuts::Registry m_registry{m_settings, m_backend};
    RecordingPresenter m_presenter;
    ScriptedCapture m_capture;
    SwitchableTrust m_trust;
    std::optional<AppCoordinator> m_coordinator;
};

TEST_F(AppCoordinatorTest, NothingSelectedShowsTheNoticeAndAsksNoModel) {
    const std::vector<std::optional<QString>> selections{std::nullopt, QString(), QStringLiteral("  \n\t \r\n ")};
    for (std::size_t index = 0; index < selections.size(); ++index) {
        m_capture.script(selections[index]);
        coordinator().trigger();
        ASSERT_TRUE(waitForCalls(index + 1));
    }
    settle();

    ASSERT_EQ(m_presenter.kinds(), std::vector<Kind>(selections.size(), Kind::notice));
    for (const auto& call : m_presenter.calls()) {
        EXPECT_EQ(call.message, QStringLiteral("Select some text, then trigger Norik."));
    }
    EXPECT_TRUE(m_server.requests().empty());
    EXPECT_TRUE(storedSources().empty());
    EXPECT_TRUE(m_history.allCategoryCounts().empty());
}

TEST_F(AppCoordinatorTest, TextUpToTheLimitIsSentWholeAndLongerTextIsCutWithANote) {
    const QString atLimit = graphemeClusters(4000);
    const std::string atLimitUtf8 = atLimit.toStdString();

    m_capture.script(QStringLiteral("\n  ") + atLimit + QStringLiteral(" \n"));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::result}));
    EXPECT_EQ(m_presenter.calls()[1].note, std::nullopt);
    EXPECT_EQ(m_presenter.calls()[1].result->corrected, kCorrected);
    EXPECT_NE(userMessage(0).find(atLimitUtf8), std::string::npos);
    EXPECT_EQ(storedSources(), std::vector<std::string>{atLimitUtf8});

    // One character more, and one that appears nowhere in the prompt, so that its absence shows the cut.
    m_capture.script(atLimit + QStringLiteral("Ω"));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(4));
    ASSERT_EQ(m_presenter.calls()[3].kind, Kind::result);
    EXPECT_EQ(m_presenter.calls()[3].note, QStringLiteral("Only the first 4000 characters were reviewed."));
    const std::string sent = userMessage(1);
    EXPECT_NE(sent.find(atLimitUtf8), std::string::npos);
    EXPECT_EQ(sent.find("Ω"), std::string::npos);
    EXPECT_EQ(storedSources(), (std::vector<std::string>{atLimitUtf8, atLimitUtf8}));
}

TEST_F(AppCoordinatorTest, WithoutTrustEveryTriggerAsksForItAndShowsNoPanel) {
    m_trust.trusted = false;
    coordinator().trigger();
    coordinator().trigger();
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return m_trust.requests() == 3; }));
    settle();

    EXPECT_TRUE(m_presenter.calls().empty());
    EXPECT_EQ(m_capture.calls(), 0);
    EXPECT_TRUE(m_server.requests().empty());
}

TEST_F(AppCoordinatorTest, ASecondTriggerDuringTheCaptureLeavesOnlyTheSecondReview) {
    // The first capture would take far longer than the test; the second trigger cuts it short.
    m_capture.script(QStringLiteral("first text"), 60s);
    m_capture.script(QStringLiteral("second text"));
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return m_capture.calls() == 1; }));
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return m_presenter.count(Kind::result) == 1; }));
    settle();

    // The first review still reaches its loading view, then ends without a word at its model call.
    EXPECT_EQ(m_presenter.count(Kind::loading), 2U);
    EXPECT_EQ(m_presenter.count(Kind::result), 1U);
    EXPECT_EQ(m_presenter.calls().back().kind, Kind::result);
    EXPECT_EQ(m_presenter.calls().size(), 3U);
    EXPECT_EQ(storedSources(), std::vector<std::string>{"second text"});
}

TEST_F(AppCoordinatorTest, ASecondTriggerDuringTheModelCallLeavesOnlyTheSecondReview) {
    m_server.respondSlowly("POST", "/api/chat", 300ms, 200, chatReply());
    m_capture.script(QStringLiteral("first text"));
    m_capture.script(QStringLiteral("second text"));
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return !m_server.requests().empty(); }));
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return m_presenter.count(Kind::result) == 1; }));
    settle();

    EXPECT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::loading, Kind::result}));
    EXPECT_EQ(storedSources(), std::vector<std::string>{"second text"});
    EXPECT_EQ(categoryCount("grammar"), 2) << "only the second review is counted";
}

TEST_F(AppCoordinatorTest, DismissingThePanelDropsTheReviewThatRuns) {
    coordinator().start();

    // During the model call, with a reply that comes late.
    m_server.respondSlowly("POST", "/api/chat", 500ms, 200, chatReply());
    m_capture.script(QStringLiteral("dismissed while loading"));
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return !m_server.requests().empty(); }));
    m_presenter.dismiss();
    settle();
    EXPECT_EQ(m_presenter.kinds(), std::vector<Kind>{Kind::loading});

    // During the capture: the review goes on to its loading view and then ends silently.
    m_capture.script(QStringLiteral("dismissed while capturing"), 60s);
    coordinator().trigger();
    ASSERT_TRUE(waitUntil([&] { return m_capture.calls() == 2; }));
    m_presenter.dismiss();
    ASSERT_TRUE(waitForCalls(2));
    settle();
    EXPECT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::loading}));

    EXPECT_TRUE(storedSources().empty());
    EXPECT_TRUE(m_history.allCategoryCounts().empty());
}

TEST_F(AppCoordinatorTest, RetentionZeroCountsTheCategoriesButStoresNoReview) {
    set("retentionLimit", std::int64_t{0});
    m_capture.script(QStringLiteral("I has a appel."));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(categoryCount("grammar"), 2);
    EXPECT_EQ(categoryCount("spelling"), 1);

    m_capture.script(QStringLiteral("She go home."));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(4));
    EXPECT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::result, Kind::loading, Kind::result}));
    EXPECT_EQ(categoryCount("grammar"), 4);
    EXPECT_EQ(categoryCount("spelling"), 2);
    EXPECT_TRUE(storedSources().empty());
    // The counted categories reach the next prompt, most frequent first.
    EXPECT_EQ(userMessage(0).find("grammar"), std::string::npos);
    EXPECT_NE(userMessage(1).find("grammar, spelling"), std::string::npos);
}

TEST_F(AppCoordinatorTest, AFailedModelCallShowsItsUserMessageAndRecordsNothing) {
    m_server.respond("POST", "/api/chat", 404, R"({"error":"model 'tutor-model' not found"})");
    m_capture.script(QStringLiteral("I has a apple."));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    settle();

    ASSERT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::error}));
    EXPECT_EQ(m_presenter.calls()[1].message,
              QStringLiteral("Model \"tutor-model\" isn't available. Pull it or pick another in Settings."));
    EXPECT_TRUE(storedSources().empty());
    EXPECT_TRUE(m_history.allCategoryCounts().empty());
}

TEST_F(AppCoordinatorTest, StartWiresTheShortcutAndAsksForTrustWhenMissing) {
    m_trust.trusted = false;
    coordinator().start();
    EXPECT_EQ(m_trust.requests(), 1);

    m_trust.trusted = true;
    m_capture.script(QStringLiteral("I has a apple."));
    const auto chord = core::shortcuts::chordFor(*HotkeyManager::reviewSelection().defaultShortcut);
    ASSERT_TRUE(m_backend.press(chord));
    m_backend.release(chord);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::result}));

    // A coordinator that is gone leaves a shortcut and a panel that do nothing.
    m_coordinator.reset();
    EXPECT_TRUE(m_backend.press(chord));
    m_presenter.dismiss();
    settle();
    EXPECT_EQ(m_capture.calls(), 1);
}

TEST_F(AppCoordinatorTest, AReviewTheHistoryCouldNotKeepSaysSoOnItsPanel) {
    const std::filesystem::path blocked = std::filesystem::path(m_folder.path().toStdString()) / "not-a-folder";
    ASSERT_TRUE(QFile(QString::fromStdString(blocked.string())).open(QIODevice::WriteOnly));
    core::NorikStore unavailable(blocked / "norik.store");
    core::HistoryStore history(unavailable);
    m_coordinator.emplace(m_presenter, m_capture, m_trust, history, m_preferences, m_registry);
    m_capture.script(QStringLiteral("He go to school."));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::result}));
    const std::optional<QString> note = m_presenter.calls()[1].note;
    ASSERT_TRUE(note.has_value());
    EXPECT_TRUE(note->startsWith(QStringLiteral("This review was not kept in the history: "))) << note->toStdString();
    settle();
    m_coordinator.reset();
}

// The real window on the test's X server: the close button keeps it, Return presses "Get started".
TEST_F(AppCoordinatorTest, FirstStartsOpenOnboardingInsteadOfTheTrustRequestUntilGetStarted) {
    m_trust.trusted = false;
    RecorderContext shortcuts{m_registry, nullptr, {}};
    OnboardingController onboarding({}, shortcuts);
    coordinator().setOnboarding(&onboarding);
    coordinator().start();
    OnboardingView* window = onboarding.window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Welcome to Norik"));
    EXPECT_EQ(m_trust.requests(), 0);

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(m_preferences.hasCompletedOnboarding());
    onboarding.show({});
    EXPECT_EQ(onboarding.window(), window) << "the closed window comes back";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_TRUE(m_preferences.hasCompletedOnboarding());
    EXPECT_EQ(onboarding.window(), nullptr);

    // The next start of Norik.
    m_coordinator.emplace(m_presenter, m_capture, m_trust, m_history, m_preferences, m_registry);
    coordinator().setOnboarding(&onboarding);
    coordinator().start();
    EXPECT_EQ(onboarding.window(), nullptr);
    EXPECT_EQ(m_trust.requests(), 1);
}

// The tray menu over a coordinator like the app's, with an updater that has no feed.
class MenuBarContentTest : public AppCoordinatorTest {
protected:
    [[nodiscard]] QList<QAction*> actions() { return m_content.menu().actions(); }
    [[nodiscard]] QAction* item(const QString& text) {
        for (QAction* action : actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        ADD_FAILURE() << "no menu item " << text.toStdString();
        return nullptr;
    }

    static bool visibleLabelSays(const QString& text) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!window->isVisible()) {
                continue;
            }
            for (const QLabel* label : window->findChildren<QLabel*>()) {
                if (label->text().contains(text)) {
                    return true;
                }
            }
        }
        return false;
    }

    UpdaterManager m_updater{m_settings, UpdaterManager::Options{"0.1.0", "", std::chrono::hours(1)}};
    int m_settingsOpened = 0;
    MenuBarContent m_content{coordinator(), m_updater, [this] { ++m_settingsOpened; }};
};

TEST_F(MenuBarContentTest, TheItemsStandInOrderWithTheSettingsShortcutAndAllEnabled) {
    const QList<QAction*> items = actions();
    ASSERT_EQ(items.size(), 6);
    const std::vector<QString> texts{
        QStringLiteral("Review selection"),           QString(), QString::fromUtf8("Settings\u2026"),
        QString::fromUtf8("Check for Updates\u2026"), QString(), QStringLiteral("Quit Norik")};
    for (qsizetype index = 0; index < items.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(items[index]->isSeparator(), texts[static_cast<std::size_t>(index)].isEmpty());
        EXPECT_EQ(items[index]->text(), texts[static_cast<std::size_t>(index)]);
        EXPECT_TRUE(items[index]->isEnabled());
        EXPECT_EQ(items[index]->shortcut().isEmpty(), index != 2);
    }
    EXPECT_EQ(items[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(items[2]->shortcut().toString(QKeySequence::NativeText), QStringLiteral("Ctrl+,"));

    items[2]->trigger();
    EXPECT_EQ(m_settingsOpened, 1);
}

TEST_F(MenuBarContentTest, CtrlCommaOpensTheSettingsFromAWindowThatTakesUpTheItem) {
    QWidget window;
    window.addAction(m_content.settingsAction());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(m_settingsOpened, 1);
}

TEST_F(MenuBarContentTest, ReviewSelectionRunsThePipelineOfTheShortcut) {
    coordinator().start();
    m_capture.script(QStringLiteral("I has a apple."));
    item(QStringLiteral("Review selection"))->trigger();
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(m_presenter.kinds(), (std::vector<Kind>{Kind::loading, Kind::result}));
    EXPECT_NE(userMessage(0).find("I has a apple."), std::string::npos);
    EXPECT_EQ(storedSources(), std::vector<std::string>{"I has a apple."});
}

TEST_F(MenuBarContentTest, CheckForUpdatesAnswersInADialogAndQuitEndsTheEventLoop) {
    item(QString::fromUtf8("Check for Updates\u2026"))->trigger();
    EXPECT_TRUE(waitUntil(
        [] { return visibleLabelSays(QStringLiteral("This copy of Norik is updated by your package manager.")); }));

    QTimer::singleShot(0, item(QStringLiteral("Quit Norik")), &QAction::trigger);
    // Ends at once when the item quits; the guard only keeps a broken item from hanging the suite.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(30s);
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

} // namespace
} // namespace norik::app::tests
