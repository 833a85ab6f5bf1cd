// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppCoordinator.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <list>
#include <nlohmann/json.hpp>

#include "app/HotkeyManager.h"
#include "app/MenuBarContent.h"
#include "app/QtWait.h"
#include "app/capture/SelectionCapture.h"
#include "app/presentation/ReviewPresenter.h"
#include "app/updates/UpdateDialog.h"
#include "app/updates/UpdaterManager.h"
#include "core/history/NorikStore.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"

namespace norik::app::tests {
namespace {

using namespace std::chrono_literals;
using norik::tests::settleWorkers;
using norik::tests::waitUntil;
using Kinds = std::vector<std::string>;

// The panel, as a log of what it was asked to show; dismiss() is what Escape or the close button does.
class RecordingPresenter final : public ReviewPresenter {
public:
    void showLoading() override { kinds.emplace_back("loading"); }
    void showNotice(const QString&) override { kinds.emplace_back("notice"); }
    void showError(const QString&) override { kinds.emplace_back("error"); }
    void showResult(const core::TutorResult&, const std::optional<QString>& note) override {
        kinds.emplace_back(note ? "result with a note" : "result");
    }
    void setOnDismiss(std::function<void()> onDismiss) override { m_onDismiss = std::move(onDismiss); }
    void dismiss() { m_onDismiss(); }

    std::vector<std::string> kinds;

private:
    std::function<void()> m_onDismiss = [] { ADD_FAILURE() << "nothing was installed to run on dismissal"; };
};

// Answers each capture with the next scripted text on the main thread's event loop. A held capture answers only
// once it is stopped, as the real one does when a trigger or a dismissal gives up on it.
class ScriptedCapture final : public QObject, public SelectionCapture, public AccessibilityTrust {
public:
    void script(std::optional<QString> text, bool held = false) { m_script.emplace_back(std::move(text), held); }

    void capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) override {
        ++calls;
        ASSERT_FALSE(m_script.empty()) << "capture " << calls << " was not scripted";
        auto [text, held] = std::move(m_script.front());
        m_script.pop_front();
        std::function<void()> answer = [this, done = std::move(done), text = std::move(text)] {
            QMetaObject::invokeMethod(
                this, [done, text] { done(text); }, Qt::QueuedConnection);
        };
        if (held) {
            m_held.emplace_back(std::move(stop), std::move(answer));
        } else {
            answer();
        }
    }
    [[nodiscard]] bool isTrusted() override { return trusted; }
    void requestTrust() override { ++trustRequests; }

    int calls = 0;
    bool trusted = true;
    int trustRequests = 0;

private:
    std::deque<std::pair<std::optional<QString>, bool>> m_script;
    std::list<std::stop_callback<std::function<void()>>> m_held;
};

// An Ollama chat answer whose review finds a grammar and a spelling mistake.
const std::string kChatReply = nlohmann::json{{"message", {{"role", "assistant"}, {"content", R"({"language": "en",
    "corrected": "I have an apple.", "improved": "I own an apple.", "score": 6, "issues": [
    {"excerpt": "has", "explanation": "First person.", "category": "Grammar"},
    {"excerpt": "appel", "explanation": "Spelled apple.", "category": "spelling"}]})"}}}}
                                   .dump();

// Real settings, history and model server in a folder of the test's own; capture, trust and panel are doubles.
class AppCoordinatorTest : public testing::Test {
protected:
    AppCoordinatorTest() {
        EXPECT_TRUE(m_settings.set("provider", std::string("local")));
        EXPECT_TRUE(m_settings.set("model.local", std::string("tutor-model")));
        EXPECT_TRUE(m_settings.set("localEndpoint", m_server.baseUrl()));
        m_server.respond("POST", "/api/chat", 200, kChatReply);
    }

    void TearDown() override {
        // The coordinator stops its review; its worker must be gone before the server and the stores are.
        m_coordinator.reset();
        ASSERT_TRUE(settleWorkers());
    }

    void review(const QString& text) {
        m_capture.script(text);
        const std::size_t shown = m_presenter.kinds.size();
        m_coordinator->trigger();
        ASSERT_TRUE(waitUntil([&] { return m_presenter.kinds.size() >= shown + 2; }));
    }

    std::string userMessage(std::size_t index) const {
        return nlohmann::json::parse(m_server.requests().at(index).body).at("messages").back().at("content");
    }

    std::vector<std::string> storedSources() const {
        std::vector<std::string> sources;
        std::ranges::transform(m_history.recentCorrections(100), std::back_inserter(sources),
                               &core::StoredCorrection::source);
        return sources;
    }

    norik::tests::TemporaryFolder m_folder;
    test::LoopbackServer m_server;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    platform::MemorySecretStore m_secrets;
    core::Preferences m_preferences{m_settings, m_secrets};
    core::NorikStore m_store{m_folder.path() / "norik.store"};
    core::HistoryStore m_history{m_store};
    platform::FakeHotKeyBackend m_backend;
    core::shortcuts::Registry m_registry{m_settings, m_backend};
    RecordingPresenter m_presenter;
    ScriptedCapture m_capture;
    std::optional<AppCoordinator> m_coordinator{std::in_place, m_presenter,   m_capture, m_capture,
                                                m_history,     m_preferences, m_registry};
};

TEST_F(AppCoordinatorTest, NothingSelectedShowsTheNoticeAndAsksNoModel) {
    for (const std::optional<QString>& selection : {std::optional<QString>(), {QString()}, {QStringLiteral(" \n\t")}}) {
        const std::size_t shown = m_presenter.kinds.size();
        m_capture.script(selection);
        m_coordinator->trigger();
        ASSERT_TRUE(waitUntil([&] { return m_presenter.kinds.size() > shown; }));
    }
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(m_presenter.kinds, Kinds(3, "notice"));
    EXPECT_TRUE(m_server.requests().empty());
}

TEST_F(AppCoordinatorTest, ALongSelectionIsReviewedCutWithANoteAndStoredAsSent) {
    review(QString(10'000, u'a') + QStringLiteral("Ω"));
    EXPECT_EQ(m_presenter.kinds, (Kinds{"loading", "result with a note"}));
    const auto stored = storedSources();
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_LT(stored[0].size(), 10'000U);
    EXPECT_EQ(userMessage(0), core::TutorService::userMessage(stored[0], {}));
}

TEST_F(AppCoordinatorTest, WithoutTrustTheShortcutOnlyAsksForItAndOnceTheCoordinatorIsGoneItDoesNothing) {
    m_capture.trusted = false;
    m_coordinator->start();
    const auto chord = core::shortcuts::chordFor(*HotkeyManager::reviewSelection().defaultShortcut);
    const auto press = [&] {
        ASSERT_TRUE(m_backend.press(chord));
        m_backend.release(chord);
    };
    press();
    ASSERT_TRUE(waitUntil([&] { return m_capture.trustRequests == 2; })) << "asked at the start and at the trigger";

    m_coordinator.reset();
    press();
    m_presenter.dismiss();
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(m_capture.trustRequests, 2);
    EXPECT_TRUE(m_presenter.kinds.empty());
}

// When the user gives up on the first review, and whether by dismissing it (else by a second trigger).
using RaceCase = std::tuple<std::string, bool>;

class AppCoordinatorRaceTest : public AppCoordinatorTest, public testing::WithParamInterface<RaceCase> {};

// At most one review is live: a second trigger leaves only the second review, a dismissal none, and the result
// of a review that was given up never shows and is never recorded.
TEST_P(AppCoordinatorRaceTest, OnlyTheReviewStillWantedEndsOnThePanelAndInTheHistory) {
    const auto& [phase, dismiss] = GetParam();
    const bool duringCapture = phase == "DuringTheCapture";
    m_coordinator->start();
    m_server.respondSlowly("POST", "/api/chat", 300ms, 200, kChatReply);
    m_capture.script(QStringLiteral("first text"), duringCapture);
    m_coordinator->trigger();
    ASSERT_TRUE(waitUntil([&] { return duringCapture ? m_capture.calls == 1 : !m_server.requests().empty(); }));
    if (phase == "BeforeTheAnswerIsShown") {
        // The answer is in and on its way to the main thread, behind what the user does next.
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
    }
    if (dismiss) {
        m_presenter.dismiss();
    } else {
        review(QStringLiteral("second text"));
    }
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(m_presenter.kinds, (dismiss ? Kinds{"loading"} : Kinds{"loading", "loading", "result"}));
    EXPECT_EQ(storedSources(), (dismiss ? Kinds{} : Kinds{"second text"}));
}

INSTANTIATE_TEST_SUITE_P(Races, AppCoordinatorRaceTest,
                         testing::Combine(testing::Values("DuringTheCapture", "DuringTheModelCall",
                                                          "BeforeTheAnswerIsShown"),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<RaceCase>& row) {
                             return (std::get<1>(row.param) ? "ADismissal" : "ASecondTrigger") + std::get<0>(row.param);
                         });

TEST_F(AppCoordinatorTest, RetentionZeroStoresNoReviewButCountsItsMistakesForTheNextPrompt) {
    ASSERT_TRUE(m_settings.set("retentionLimit", std::int64_t{0}));
    review(QStringLiteral("I has a appel."));
    review(QStringLiteral("She go home."));
    EXPECT_EQ(m_presenter.kinds, (Kinds{"loading", "result", "loading", "result"}));
    EXPECT_TRUE(storedSources().empty());
    EXPECT_EQ(userMessage(1),
              core::TutorService::userMessage("She go home.", std::vector<std::string>{"grammar", "spelling"}));
}

TEST_F(AppCoordinatorTest, AReviewTheHistoryCouldNotKeepSaysSoOnItsPanel) {
    norik::tests::writeFile(m_folder.path() / "not-a-folder", "");
    core::NorikStore unavailable(m_folder.path() / "not-a-folder" / "norik.store");
    core::HistoryStore history(unavailable);
    m_coordinator.emplace(m_presenter, m_capture, m_capture, history, m_preferences, m_registry);
    review(QStringLiteral("He go to school."));
    EXPECT_EQ(m_presenter.kinds, (Kinds{"loading", "result with a note"}));
    m_coordinator.reset();
}

TEST_F(AppCoordinatorTest, TheTrayMenuReviewsOpensTheSettingsOnCtrlCommaChecksForUpdatesAndQuits) {
    UpdaterManager updater{m_settings, UpdaterManager::Options{"0.1.0", "", 1h}};
    int settingsOpened = 0;
    MenuBarContent content{*m_coordinator, updater, [&] { ++settingsOpened; }};
    const auto item = [&](const char* text) {
        const QList<QAction*> actions = content.menu().actions();
        const auto found = std::ranges::find(actions, QString::fromUtf8(text), &QAction::text);
        return found != actions.end() ? *found : nullptr;
    };
    m_coordinator->start();
    m_capture.script(QStringLiteral("I has a apple."));
    item("Review selection")->trigger();
    ASSERT_TRUE(waitUntil([&] { return storedSources() == Kinds{"I has a apple."}; }));

    QWidget window;
    window.addAction(content.settingsAction());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(settingsOpened, 1);

    item("Check for Updates\u2026")->trigger();
    EXPECT_TRUE(std::ranges::any_of(QApplication::topLevelWidgets(), [](QWidget* w) {
        return qobject_cast<UpdateDialog*>(w) != nullptr && w->isVisible();
    }));

    QTimer::singleShot(0, item("Quit Norik"), &QAction::trigger);
    // Ends at once when the item quits; the guard only keeps a broken item from hanging the suite.
    QTimer::singleShot(30s, &window, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

} // namespace
} // namespace norik::app::tests
