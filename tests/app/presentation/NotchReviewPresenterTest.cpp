// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/NotchReviewPresenter.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/presentation/ReviewViews.h"
#include "app/presentation/WorkArea.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using norik::tests::waitUntil;

class NotchReviewPresenterTest : public ::testing::Test {
protected:
    NotchReviewPresenterTest() {
        m_presenter.setOnDismiss([this] { ++m_dismissals; });
    }

    void TearDown() override {
        m_presenter.dismiss();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool settled() {
        const NotchPanel* panel = m_presenter.panel();
        return panel != nullptr && waitUntil([&] {
                   return panel->geometry() == m_presenter.targetGeometry() && panel->windowOpacity() == 1.0;
               });
    }

    NotchReviewPresenter m_presenter{ReviewTimings{std::chrono::hours(1), 60ms}};
    int m_dismissals = 0;
};

// The last row is a result taller than the screen allows: it scrolls inside a panel that fits. Where the panel hangs,
// centred below the top bar, is the end-to-end tests' check, from the loading panel to the result.
TEST_F(NotchReviewPresenterTest, EachStageReplacesTheViewOfOnePanelThatFitsTheScreenAndItsCloseButtonDismissesIt) {
    NotchReviewPresenter& p = m_presenter;
    core::TutorResult tall;
    tall.issues.assign(60, {"I goed", "\"Go\" is irregular.", "grammar"});
    const struct {
        const char* name;
        std::function<void()> show;
        const QMetaObject* view;
        bool closable;
    } rows[] = {
        {"loading", [&] { p.showLoading(); }, &ReviewLoadingView::staticMetaObject, false},
        {"loading where Escape may not reach Norik", [&] { p.setLoadingClosable(true), p.showLoading(); },
         &ReviewLoadingView::staticMetaObject, true},
        {"notice", [&] { p.showNotice(QStringLiteral("No text.")); }, &ReviewMessageView::staticMetaObject, true},
        {"error", [&] { p.showError(QStringLiteral("Timed out.")); }, &ReviewMessageView::staticMetaObject, true},
        {"result", [&] { p.showResult(tall, std::nullopt); }, &ReviewView::staticMetaObject, true},
    };
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const NotchPanel* first = nullptr;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.show();
        ASSERT_TRUE(settled());
        const NotchPanel* panel = m_presenter.panel();
        first = first != nullptr ? first : panel;
        EXPECT_EQ(panel, first) << "a panel that is up is reused";
        EXPECT_LT(panel->geometry().bottom(), screen.bottom());
        EXPECT_EQ(panel->content()->findChild<QAbstractButton*>(QStringLiteral("close")) != nullptr, row.closable);
        EXPECT_EQ(std::ranges::count(panel->content()->findChildren<QWidget*>(), row.view, &QObject::metaObject), 1);
    }
    EXPECT_GT(m_presenter.panel()->content()->findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
    QTest::mouseClick(m_presenter.panel()->content()->findChild<QAbstractButton*>(QStringLiteral("close")),
                      Qt::LeftButton);
    EXPECT_EQ(m_dismissals, 1);
    EXPECT_FALSE(m_presenter.isShown());
}

TEST_F(NotchReviewPresenterTest, AResultShowsItsTextsAsWrittenAndCopyPutsThemOnTheClipboardWithACheckMarkForAWhile) {
    const core::TutorResult result{.language = "en",
                                   .corrected = "<b>Bold?</b> & \"quotes\"\nLine two with ünïcödé ✓",
                                   .improved = "I went shopping.",
                                   .issues = {{"I goed", "Use `code`, not <code>.", "grammar"}},
                                   .score = 7};
    m_presenter.showResult(result, QStringLiteral("Only the first part was <i>reviewed</i>."));
    ASSERT_TRUE(settled());
    const auto labels = m_presenter.panel()->findChildren<QLabel*>();
    for (const std::string& text : {result.corrected, result.improved, result.issues.front().explanation,
                                    std::string("Only the first part was <i>reviewed</i>.")}) {
        EXPECT_TRUE(std::ranges::any_of(labels, [&](const QLabel* label) {
            return label->textFormat() == Qt::PlainText && label->text() == QString::fromStdString(text);
        })) << text;
    }
    for (const auto& [name, expected] : {std::pair{"corrected", result.corrected}, {"improved", result.improved}}) {
        SCOPED_TRACE(name);
        auto* copy = m_presenter.panel()->findChild<QWidget*>(QString::fromLatin1(name))->findChild<CopyButton*>();
        QTest::mouseClick(copy, Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
        EXPECT_TRUE(copy->isCopied());
        EXPECT_TRUE(waitUntil([&] { return !copy->isCopied(); }));
    }
}

TEST_F(NotchReviewPresenterTest, EscapeInAnyWindowOfTheAppDismissesOnlyAPanelThatIsUp) {
    QLineEdit other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    m_presenter.showLoading();
    const QPointer<NotchPanel> panel = m_presenter.panel();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == panel; })) << "the panel takes the keyboard";

    QTest::keyClick(&other, Qt::Key_A);
    EXPECT_EQ(other.text(), QStringLiteral("a")) << "keys other than Escape pass through";
    QShortcut cancel(Qt::Key_Escape, &other);
    cancel.setContext(Qt::ApplicationShortcut);
    QSignalSpy triggered(&cancel, &QShortcut::activated);
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(m_dismissals, 1);
    EXPECT_EQ(triggered.count(), 0) << "Escape reaches no shortcut of another window";

    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; }));
    QTest::keyClick(&other, Qt::Key_Escape);
    m_presenter.escapePressed();
    EXPECT_EQ(m_dismissals, 1) << "Escape, here or elsewhere, is watched only while the panel is up";
    EXPECT_EQ(triggered.count(), 1);
}

TEST(ReviewLoadingViewTest, SpinsWhileShownAndOffersToCancelOnlyAfterTheDelayOnScreen) {
    ReviewLoadingView hidden(50ms, nullptr);
    hidden.show();
    hidden.hide();
    ReviewLoadingView shown(200ms, nullptr);
    shown.show();
    EXPECT_FALSE(shown.isSlow());
    EXPECT_TRUE(shown.findChild<NorikSpinner*>()->isSpinning());
    EXPECT_FALSE(hidden.findChild<NorikSpinner*>()->isSpinning());
    ASSERT_TRUE(waitUntil([&] { return shown.isSlow(); }));
    EXPECT_FALSE(hidden.isSlow()) << "its shorter delay would have ended first, had it kept running";
}

using Values = std::vector<std::uint32_t>;

struct AreaCase {
    const char* name;
    // Root window properties in order; "dock" adds a dock the window manager lists, with these struts.
    std::vector<std::pair<std::string, Values>> properties;
    std::optional<QRect> area;
};

// Sets the desktop's properties on Qt's own connection, so that the code under test, on the same connection,
// reads them in order. That the panel hangs below the area's top is the end-to-end tests' check, with real docks.
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
    ASSERT_EQ(screen.geometry(), QRect(0, 0, 1920, 1080)) << "the Xvfb screen of the suite's main()";
    EXPECT_EQ(workArea(screen), GetParam().area.value_or(screen.availableGeometry()));
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, WorkAreaTest,
    ::testing::ValuesIn(std::vector<AreaCase>{
        {"NetWorkAreaLeavesRoomForTheTopBar", {{"_NET_WORKAREA", {0, 32, 1920, 1048}}}, QRect(0, 32, 1920, 1048)},
        // Two monitors side by side: one area spans both.
        {"NetWorkAreaOfTheCurrentDesktopIsCutToTheScreen",
         {{"_NET_WORKAREA", {0, 10, 3840, 1070, 0, 32, 3840, 1048}}, {"_NET_CURRENT_DESKTOP", {1}}},
         QRect(0, 32, 1920, 1048)},
        // The area spans a bar of a monitor to the right (the end-to-end tests' two monitors); only the docks
        // tell which monitor has which.
        {"UnderAWindowManagerTheDocksAlongTheScreenCount",
         {{"_NET_WORKAREA", {0, 50, 3840, 1030}},
          {"dock", {0, 0, 28, 0, 0, 0, 0, 0, 0, 1919, 0, 0}},
          {"dock", {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 200, 800}}},
         QRect(0, 28, 1920, 1012)},
        // The other monitor first, with a taller bar, so that taking the first rectangle shows.
        {"GtkWorkAreasOfTheScreensMonitorWin",
         {{"_NET_WORKAREA", {0, 32, 1920, 1048}}, {"_GTK_WORKAREAS_D0", {1920, 60, 1920, 1020, 0, 40, 1920, 1040}}},
         QRect(0, 40, 1920, 1040)},
        {"GtkWorkAreasFollowTheCurrentDesktop",
         {{"_GTK_WORKAREAS_D0", {0, 40, 1920, 1040}},
          {"_GTK_WORKAREAS_D1", {0, 24, 1920, 1056}},
          {"_NET_CURRENT_DESKTOP", {1}}},
         QRect(0, 24, 1920, 1056)},
        {"WithoutPropertiesTheAvailableGeometryCounts", {}, std::nullopt},
        {"AnAreaOffTheScreenDoesNotCount", {{"_NET_WORKAREA", {1920, 32, 1920, 1048}}}, std::nullopt}}),
    [](const ::testing::TestParamInfo<AreaCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::app
