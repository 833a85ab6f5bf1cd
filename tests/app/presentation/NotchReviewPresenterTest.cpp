// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/NotchReviewPresenter.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <ostream>

#include "app/QtWait.h"
#include "app/presentation/ReviewViews.h"
#include "app/presentation/WorkArea.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using norik::tests::waitUntil;

core::TutorResult typicalResult(int issueCount = 4) {
    core::TutorResult result{.language = "en",
                             .corrected = "Yesterday I went to the market and bought three apples.",
                             .improved = "Yesterday I went to the market and picked up three apples.",
                             .issues = {},
                             .score = 7};
    result.issues.assign(static_cast<std::size_t>(issueCount),
                         {"I goed", "\"Go\" is irregular: its past tense is \"went\".", "grammar"});
    return result;
}

class NotchReviewPresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_presenter.setOnDismiss([this] { ++m_dismissals; });
    }

    void TearDown() override {
        m_presenter.dismiss();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The panel's content once its animation is over.
    QWidget* settled() {
        NotchPanel* panel = m_presenter.panel();
        EXPECT_TRUE(panel != nullptr && waitUntil([&] {
                        return panel->geometry() == m_presenter.targetGeometry() && panel->windowOpacity() == 1.0;
                    }));
        return panel != nullptr ? panel->content() : nullptr;
    }

    template <typename Child = QWidget> Child* shown(const char* name) {
        return m_presenter.panel()->content()->findChild<Child*>(QString::fromLatin1(name));
    }

    NotchReviewPresenter m_presenter{ReviewTimings{std::chrono::hours(1), 60ms}};
    int m_dismissals = 0;
};

TEST_F(NotchReviewPresenterTest, EachStageReplacesTheViewOfOnePanelHangingFromTheTopCentre) {
    struct Row {
        const char* name;
        std::function<void(NotchReviewPresenter&)> show;
        const QMetaObject* view;
        bool closable;
    };
    const std::vector<Row> rows{
        {"loading", [](NotchReviewPresenter& p) { p.showLoading(); }, &ReviewLoadingView::staticMetaObject, false},
        {"loading where Escape may not reach Norik",
         [](NotchReviewPresenter& p) {
             p.setLoadingClosable(true);
             p.showLoading();
         },
         &ReviewLoadingView::staticMetaObject, true},
        {"notice", [](NotchReviewPresenter& p) { p.showNotice(QStringLiteral("Nothing selected.")); },
         &ReviewMessageView::staticMetaObject, true},
        {"error", [](NotchReviewPresenter& p) { p.showError(QStringLiteral("The request timed out.")); },
         &ReviewMessageView::staticMetaObject, true},
        {"result", [](NotchReviewPresenter& p) { p.showResult(typicalResult(), std::nullopt); },
         &ReviewView::staticMetaObject, true},
    };
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const NotchPanel* first = nullptr;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.show(m_presenter);
        ASSERT_NE(settled(), nullptr);
        const NotchPanel* panel = m_presenter.panel();
        first = first != nullptr ? first : panel;
        EXPECT_EQ(panel, first) << "a panel that is up is reused";
        EXPECT_TRUE(panel->isVisible());
        EXPECT_NEAR(panel->geometry().center().x(), screen.center().x(), 1);
        EXPECT_LE(panel->y(), screen.top());
        EXPECT_EQ(shown<QAbstractButton>("close") != nullptr, row.closable);
        const auto children = panel->content()->findChildren<QWidget*>();
        EXPECT_EQ(std::ranges::count(children, row.view, &QObject::metaObject), 1);
    }
}

TEST_F(NotchReviewPresenterTest, AResultTallerThanTheScreenAllowsScrollsInsideAPanelThatFits) {
    m_presenter.showResult(typicalResult(60), std::nullopt);
    ASSERT_NE(settled(), nullptr);
    const auto* scroll = m_presenter.panel()->content()->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_LT(m_presenter.panel()->geometry().bottom(), QGuiApplication::primaryScreen()->geometry().bottom());
}

TEST_F(NotchReviewPresenterTest, AResultShowsItsTextsAsWrittenAndCopyPutsThemOnTheClipboardWithACheckMarkForAWhile) {
    core::TutorResult result = typicalResult(1);
    result.corrected = "<b>Bold?</b> & \"quotes\"\nLine two with ünïcödé ✓";
    result.issues.front().explanation = "Use `code`, not <code>.";
    m_presenter.showResult(result, QStringLiteral("Only the first part was <i>reviewed</i>."));
    ASSERT_NE(settled(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_presenter.panel()));
    std::vector<QString> plainTexts;
    for (const QLabel* label : m_presenter.panel()->findChildren<QLabel*>()) {
        plainTexts.push_back(label->textFormat() == Qt::PlainText ? label->text() : QString());
    }
    for (const std::string& text : {result.corrected, result.improved, result.issues.front().explanation,
                                    std::string("Only the first part was <i>reviewed</i>.")}) {
        EXPECT_NE(std::ranges::find(plainTexts, QString::fromStdString(text)), plainTexts.end()) << text;
    }
    for (const auto& [name, expected] : {std::pair{"corrected", result.corrected}, {"improved", result.improved}}) {
        SCOPED_TRACE(name);
        auto* copy = shown(name)->findChild<CopyButton*>();
        ASSERT_NE(copy, nullptr);
        QTest::mouseClick(copy, Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
        EXPECT_TRUE(copy->isCopied());
        EXPECT_TRUE(waitUntil([&] { return !copy->isCopied(); }));
    }
    m_presenter.showResult(typicalResult(0), std::nullopt);
    ASSERT_NE(settled(), nullptr);
    EXPECT_EQ(shown("whatToLearn"), nullptr) << "no issues, nothing to learn";
}

TEST_F(NotchReviewPresenterTest, EscapeInAnyWindowOfTheAppAndTheCloseButtonDismissOnlyAPanelThatIsUp) {
    QSignalSpy shownChanged(&m_presenter, &NotchReviewPresenter::shownChanged);
    QLineEdit other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    m_presenter.showLoading();
    const QPointer<NotchPanel> panel = m_presenter.panel();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == panel; })) << "the panel takes the keyboard";

    QTest::keyClick(&other, Qt::Key_A);
    EXPECT_EQ(other.text(), QStringLiteral("a")) << "keys other than Escape pass through";
    QAction cancel(&other);
    cancel.setShortcut(Qt::Key_Escape);
    cancel.setShortcutContext(Qt::ApplicationShortcut);
    other.addAction(&cancel);
    QSignalSpy triggered(&cancel, &QAction::triggered);
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(m_dismissals, 1);
    EXPECT_EQ(triggered.count(), 0) << "Escape reaches no shortcut of another window";
    EXPECT_EQ(shownChanged.count(), 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull()) << "a dismissed panel is dropped";

    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; }));
    QTest::keyClick(&other, Qt::Key_Escape);
    m_presenter.escapePressed();
    EXPECT_EQ(m_dismissals, 1) << "Escape, here or elsewhere, is watched only while the panel is up";
    EXPECT_EQ(triggered.count(), 1);

    m_presenter.showError(QStringLiteral("The model did not answer."));
    ASSERT_NE(settled(), nullptr);
    QTest::mouseClick(shown<QAbstractButton>("close"), Qt::LeftButton);
    EXPECT_EQ(m_dismissals, 2);
    m_presenter.showNotice(QStringLiteral("Nothing selected."));
    m_presenter.escapePressed();
    EXPECT_EQ(m_dismissals, 3);
    EXPECT_FALSE(m_presenter.isShown());
}

TEST(ReviewLoadingViewTest, SpinsWhileShownAndOffersToCancelOnlyAfterTheDelayOnScreen) {
    ReviewLoadingView hidden(50ms, nullptr);
    hidden.show();
    hidden.hide();
    ReviewLoadingView shown(200ms, nullptr);
    shown.show();
    const QSize before = shown.sizeHint();
    EXPECT_FALSE(shown.isSlow());
    EXPECT_TRUE(shown.findChild<NorikSpinner*>()->isSpinning());
    EXPECT_FALSE(hidden.findChild<NorikSpinner*>()->isSpinning());
    ASSERT_TRUE(waitUntil([&] { return shown.isSlow(); }));
    EXPECT_FALSE(hidden.isSlow()) << "its shorter delay would have ended first, had it kept running";
    EXPECT_EQ(shown.sizeHint(), before) << "the hint had its room from the start";
}

// The Xvfb screen of the suite's main().
const QRect kScreen(0, 0, 1920, 1080);

using Values = std::vector<std::uint32_t>;

struct AreaCase {
    const char* name;
    // Root window properties in order; "dock" adds a dock the window manager lists, with these struts.
    std::vector<std::pair<std::string, Values>> properties;
    std::optional<QRect> area;
};

void PrintTo(const AreaCase& row, std::ostream* out) {
    *out << row.name;
}

// Sets the desktop's properties on Qt's own connection, so that the code under test, on the same connection,
// reads them in order.
class WorkAreaTest : public ::testing::TestWithParam<AreaCase> {
protected:
    void TearDown() override {
        for (const auto& name :
             {"_NET_WORKAREA", "_GTK_WORKAREAS_D0", "_GTK_WORKAREAS_D1", "_NET_CURRENT_DESKTOP", "_NET_CLIENT_LIST"}) {
            xcb_delete_property(m_connection, m_root, platform::x11::internAtom(m_connection, name));
        }
        xcb_flush(m_connection);
    }

    void set(xcb_window_t window, const std::string& name, const Values& values, xcb_atom_t type = XCB_ATOM_CARDINAL) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, platform::x11::internAtom(m_connection, name),
                            type, 32, static_cast<std::uint32_t>(values.size()), values.data());
        xcb_flush(m_connection);
    }

    xcb_connection_t* m_connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_window_t m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
};

TEST_P(WorkAreaTest, GivesThePanelTheRoomTheDesktopLeaves) {
    Values docks;
    for (const auto& [name, values] : GetParam().properties) {
        const bool dock = name == "dock";
        if (dock) {
            docks.push_back(xcb_generate_id(m_connection));
            xcb_create_window(m_connection, 0, docks.back(), m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
            set(m_root, "_NET_CLIENT_LIST", docks, XCB_ATOM_WINDOW);
        }
        set(dock ? docks.back() : m_root, dock ? "_NET_WM_STRUT_PARTIAL" : name, values);
    }
    const QScreen& screen = *QGuiApplication::primaryScreen();
    ASSERT_EQ(screen.geometry(), kScreen);
    EXPECT_EQ(x11WorkArea(m_connection, m_root, kScreen), GetParam().area);
    EXPECT_EQ(workArea(screen), GetParam().area.value_or(screen.availableGeometry()));
    NotchReviewPresenter presenter;
    presenter.showNotice(QStringLiteral("Nothing selected."));
    EXPECT_EQ(presenter.panel()->content()->layout()->contentsMargins().top(), workArea(screen).top())
        << "the panel's content starts below the top bar";
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, WorkAreaTest,
    ::testing::Values(
        AreaCase{
            "NetWorkAreaLeavesRoomForTheTopBar", {{"_NET_WORKAREA", {0, 32, 1920, 1048}}}, QRect(0, 32, 1920, 1048)},
        // Two monitors side by side: one area spans both.
        AreaCase{"NetWorkAreaOfTheCurrentDesktopIsCutToTheScreen",
                 {{"_NET_WORKAREA", {0, 10, 3840, 1070, 0, 32, 3840, 1048}}, {"_NET_CURRENT_DESKTOP", {1}}},
                 QRect(0, 32, 1920, 1048)},
        // The area spans a bar of the monitor to the right; only the docks tell which monitor has which.
        AreaCase{"UnderAWindowManagerADockOfAnotherMonitorDoesNotCount",
                 {{"_NET_WORKAREA", {0, 50, 3840, 1030}}, {"dock", {0, 0, 50, 0, 0, 0, 0, 0, 1920, 3839, 0, 0}}},
                 kScreen},
        AreaCase{"UnderAWindowManagerTheDocksAlongTheScreenCount",
                 {{"_NET_WORKAREA", {0, 50, 3840, 1030}},
                  {"dock", {0, 0, 28, 0, 0, 0, 0, 0, 0, 1919, 0, 0}},
                  {"dock", {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 200, 800}}},
                 QRect(0, 28, 1920, 1012)},
        // The other monitor first, with a taller bar, so that taking the first rectangle shows.
        AreaCase{
            "GtkWorkAreasOfTheScreensMonitorWin",
            {{"_NET_WORKAREA", {0, 32, 1920, 1048}}, {"_GTK_WORKAREAS_D0", {1920, 60, 1920, 1020, 0, 40, 1920, 1040}}},
            QRect(0, 40, 1920, 1040)},
        AreaCase{"GtkWorkAreasFollowTheCurrentDesktop",
                 {{"_GTK_WORKAREAS_D0", {0, 40, 1920, 1040}},
                  {"_GTK_WORKAREAS_D1", {0, 24, 1920, 1056}},
                  {"_NET_CURRENT_DESKTOP", {1}}},
                 QRect(0, 24, 1920, 1056)},
        AreaCase{"WithoutPropertiesTheAvailableGeometryCounts", {}, std::nullopt},
        AreaCase{"AnAreaOffTheScreenDoesNotCount", {{"_NET_WORKAREA", {1920, 32, 1920, 1048}}}, std::nullopt}),
    [](const ::testing::TestParamInfo<AreaCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::app
