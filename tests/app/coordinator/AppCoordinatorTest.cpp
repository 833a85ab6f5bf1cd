// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppCoordinator.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <ostream>

#include "app/HotkeyManager.h"
#include "app/MenuBarContent.h"
#include "app/QtWait.h"
#include "app/coordinator/TestDoubles.h"
#include "app/updates/UpdateDialog.h"
#include "app/updates/UpdaterManager.h"
#include "core/history/NorikStore.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Description.h"
#include "core/shortcuts/Registry.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"

namespace norik::app::tests {
namespace {

using namespace std::chrono_literals;
using Kind = RecordingPresenter::Kind;
using norik::tests::waitUntil;

// An Ollama chat answer whose review finds two grammar mistakes and one spelling mistake.
const std::string kChatReply =
    nlohmann::json{
        {"message",
         {{"role", "assistant"},
          {"content", R"({"language": "en", "corrected": "I have an apple.", "improved": "I own an apple.", "score": 6,
          "issues": [{"excerpt": "has", "explanation": "First person.", "category": "Grammar"},
                     {"excerpt": "a apple", "explanation": "A vowel sound.", "category": "grammar"},
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
        EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
    }

    AppCoordinator& coordinator() { return *m_coordinator; }

    bool waitForCalls(std::size_t count) {
        return waitUntil([&] { return m_presenter.kinds.size() >= count; });
    }

    // Lets every model call that was started come back to the main thread, so that a test can say what did
    // not happen.
    void settle() {
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
        QCoreApplication::sendPostedEvents();
    }

    // What the index-th model request asked about.
    std::string userMessage(std::size_t index) const {
        return nlohmann::json::parse(m_server.requests().at(index).body).at("messages").back().at("content");
    }

    std::vector<std::string> storedSources() const {
        std::vector<std::string> sources;
        for (const core::StoredCorrection& correction : m_history.recentCorrections(100)) {
            sources.push_back(correction.source);
        }
        return sources;
    }

    std::int64_t counted(std::string_view category) const {
        const auto counts = m_history.allCategoryCounts();
        const auto found = std::ranges::find(counts, category, &core::CategoryCount::category);
        return found != counts.end() ? found->count : 0;
    }

    norik::tests::TemporaryFolder m_folder;
    // Before the store: the history file goes where XDG_DATA_HOME says.
    const bool m_dataHomeSet = ::setenv("XDG_DATA_HOME", m_folder.path().c_str(), 1) == 0;
    test::LoopbackServer m_server;
    core::SettingsStore m_settings{m_folder.path() / "settings.json"};
    platform::MemorySecretStore m_secrets;
    core::Preferences m_preferences{m_settings, m_secrets};
    core::NorikStore m_store{core::NorikStore::defaultLocation()};
    core::HistoryStore m_history{m_store};
    platform::FakeHotKeyBackend m_backend;
    core::shortcuts::Registry m_registry{m_settings, m_backend};
    RecordingPresenter m_presenter;
    ScriptedCapture m_capture;
    SwitchableTrust m_trust;
    std::optional<AppCoordinator> m_coordinator{std::in_place, m_presenter,   m_capture, m_trust,
                                                m_history,     m_preferences, m_registry};
};

TEST_F(AppCoordinatorTest, NothingSelectedShowsTheNoticeAndAsksNoModel) {
    ASSERT_TRUE(m_store.location().string().starts_with(m_folder.path().string()));
    const std::vector<std::optional<QString>> selections{std::nullopt, QString(), QStringLiteral("  \n\t \r\n ")};
    for (std::size_t index = 0; index < selections.size(); ++index) {
        m_capture.script(selections[index]);
        coordinator().trigger();
        ASSERT_TRUE(waitForCalls(index + 1));
    }
    settle();
    EXPECT_EQ(m_presenter.kinds, std::vector<Kind>(selections.size(), Kind::notice));
    EXPECT_TRUE(m_server.requests().empty());
    EXPECT_TRUE(storedSources().empty());
}

TEST_F(AppCoordinatorTest, ALongSelectionIsReviewedCutWithANoteAndStoredAsSent) {
    m_capture.script(QString(10'000, u'a') + QStringLiteral("Ω"));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_EQ(m_presenter.kinds, (std::vector<Kind>{Kind::loading, Kind::result}));
    EXPECT_TRUE(m_presenter.resultNote.has_value());
    const auto stored = storedSources();
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_LT(stored[0].size(), 10'000U);
    EXPECT_EQ(userMessage(0), core::TutorService::userMessage(stored[0], {}));
}

TEST_F(AppCoordinatorTest, WithoutTrustTheShortcutOnlyAsksForItAndOnceTheCoordinatorIsGoneItDoesNothing) {
    m_trust.trusted = false;
    coordinator().start();
    const auto chord = core::shortcuts::chordFor(*HotkeyManager::reviewSelection().defaultShortcut);
    const auto press = [&] {
        ASSERT_TRUE(m_backend.press(chord));
        m_backend.release(chord);
    };
    press();
    ASSERT_TRUE(waitUntil([&] { return m_trust.requests == 2; })) << "asked at the start and at the trigger";
    m_trust.trusted = true;
    m_capture.script(QStringLiteral("I has a apple."));
    press();
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(m_capture.calls, 1) << "nothing was captured without trust";

    m_coordinator.reset();
    press();
    m_presenter.dismiss();
    settle();
    EXPECT_EQ(m_presenter.kinds, (std::vector<Kind>{Kind::loading, Kind::result}));
}

enum class Phase { capture, modelCall, answered };

struct RaceCase {
    const char* name;
    Phase phase;  // of the first review when the user gives up on it
    bool dismiss; // else the user triggers again
};

void PrintTo(const RaceCase& row, std::ostream* out) {
    *out << row.name;
}

class AppCoordinatorRaceTest : public AppCoordinatorTest, public testing::WithParamInterface<RaceCase> {};

// At most one review is live: a second trigger leaves only the second review, a dismissal none, and the result
// of a review that was given up never shows and is never recorded.
TEST_P(AppCoordinatorRaceTest, OnlyTheReviewStillWantedEndsOnThePanelAndInTheHistory) {
    const bool dismiss = GetParam().dismiss;
    coordinator().start();
    const Phase phase = GetParam().phase;
    if (phase == Phase::capture) {
        m_capture.script(QStringLiteral("first text"), true);
    } else {
        m_server.respondSlowly("POST", "/api/chat", 300ms, 200, kChatReply);
        m_capture.script(QStringLiteral("first text"));
    }
    coordinator().trigger();
    ASSERT_TRUE(
        waitUntil([&] { return phase == Phase::capture ? m_capture.calls == 1 : !m_server.requests().empty(); }));
    if (phase == Phase::answered) {
        // The answer is in and on its way to the main thread, behind what the user does next.
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(30'000));
    }
    if (dismiss) {
        m_presenter.dismiss();
    } else {
        m_capture.script(QStringLiteral("second text"));
        coordinator().trigger();
    }
    ASSERT_TRUE(waitForCalls(dismiss ? 1 : 3));
    settle();
    const std::vector<Kind> afterTrigger{Kind::loading, Kind::loading, Kind::result};
    EXPECT_EQ(m_presenter.kinds, dismiss ? std::vector<Kind>{Kind::loading} : afterTrigger);
    EXPECT_EQ(storedSources(), dismiss ? std::vector<std::string>{} : std::vector<std::string>{"second text"});
    EXPECT_EQ(counted("grammar"), dismiss ? 0 : 2) << "only the second review is counted";
}

INSTANTIATE_TEST_SUITE_P(Races, AppCoordinatorRaceTest,
                         testing::Values(RaceCase{"ASecondTriggerDuringTheCapture", Phase::capture, false},
                                         RaceCase{"ASecondTriggerDuringTheModelCall", Phase::modelCall, false},
                                         RaceCase{"ASecondTriggerBeforeTheAnswerArrives", Phase::answered, false},
                                         RaceCase{"ADismissalDuringTheCapture", Phase::capture, true},
                                         RaceCase{"ADismissalDuringTheModelCall", Phase::modelCall, true},
                                         RaceCase{"ADismissalBeforeTheAnswerArrivesDropsIt", Phase::answered, true}),
                         [](const testing::TestParamInfo<RaceCase>& row) { return std::string(row.param.name); });

TEST_F(AppCoordinatorTest, RetentionZeroStoresNoReviewButCountsItsMistakesForTheNextPrompt) {
    ASSERT_TRUE(m_settings.set("retentionLimit", std::int64_t{0}));
    for (const char* text : {"I has a appel.", "She go home."}) {
        m_capture.script(QString::fromUtf8(text));
        coordinator().trigger();
        ASSERT_TRUE(waitForCalls(m_presenter.kinds.size() + 2));
    }
    EXPECT_EQ(m_presenter.kinds, (std::vector<Kind>{Kind::loading, Kind::result, Kind::loading, Kind::result}));
    EXPECT_TRUE(storedSources().empty());
    EXPECT_EQ(counted("grammar"), 4);
    EXPECT_EQ(userMessage(1),
              core::TutorService::userMessage("She go home.", std::vector<std::string>{"grammar", "spelling"}));
}

TEST_F(AppCoordinatorTest, AReviewTheHistoryCouldNotKeepSaysSoOnItsPanel) {
    const std::filesystem::path blocked = m_folder.path() / "not-a-folder";
    norik::tests::writeFile(blocked, "");
    core::NorikStore unavailable(blocked / "norik.store");
    core::HistoryStore history(unavailable);
    m_coordinator.emplace(m_presenter, m_capture, m_trust, history, m_preferences, m_registry);
    m_capture.script(QStringLiteral("He go to school."));
    coordinator().trigger();
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_EQ(m_presenter.kinds, (std::vector<Kind>{Kind::loading, Kind::result}));
    EXPECT_TRUE(m_presenter.resultNote.has_value());
    settle();
    m_coordinator.reset();
}

TEST_F(AppCoordinatorTest, TheTrayMenuReviewsOpensTheSettingsOnCtrlCommaChecksForUpdatesAndQuits) {
    UpdaterManager updater{m_settings, UpdaterManager::Options{"0.1.0", "", 1h}};
    int settingsOpened = 0;
    MenuBarContent content{coordinator(), updater, [&] { ++settingsOpened; }};
    const auto item = [&](const QString& text) {
        const QList<QAction*> actions = content.menu().actions();
        const auto found = std::ranges::find(actions, text, &QAction::text);
        return found != actions.end() ? *found : nullptr;
    };
    coordinator().start();
    m_capture.script(QStringLiteral("I has a apple."));
    item(QStringLiteral("Review selection"))->trigger();
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(storedSources(), std::vector<std::string>{"I has a apple."});

    QWidget window;
    window.addAction(content.settingsAction());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(settingsOpened, 1);

    item(QString::fromUtf8("Check for Updates\u2026"))->trigger();
    EXPECT_TRUE(waitUntil([] {
        return std::ranges::any_of(QApplication::topLevelWidgets(), [](QWidget* w) {
            return qobject_cast<UpdateDialog*>(w) != nullptr && w->isVisible();
        });
    }));

    QTimer::singleShot(0, item(QStringLiteral("Quit Norik")), &QAction::trigger);
    // Ends at once when the item quits; the guard only keeps a broken item from hanging the suite.
    QTimer::singleShot(30s, &window, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

} // namespace
} // namespace norik::app::tests
