// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/NotchReviewPresenter.h"

#include <functional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "PresentationTesting.h"

#include "app/presentation/ReviewViews.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using testing::typicalResult;
using testing::waitUntil;

class NotchReviewPresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_presenter.setOnDismiss([this] { ++m_dismissals; });
    }

    void TearDown() override {
        m_presenter.dismiss();
        // Dismissed panels are deleted from the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Waits until the panel has finished its animation and sits where it belongs.
    NotchPanel* settledPanel() {
        NotchPanel* panel = m_presenter.panel();
        if (panel == nullptr) {
            ADD_FAILURE() << "no panel is up";
            return nullptr;
        }
        EXPECT_TRUE(waitUntil(
            [&] { return panel->geometry() == m_presenter.targetGeometry() && panel->windowOpacity() == 1.0; }));
        return panel;
    }

    QAbstractButton* closeButton() const {
        return m_presenter.panel() != nullptr
                   ? m_presenter.panel()->content()->findChild<QAbstractButton*>(QStringLiteral("close"))
                   : nullptr;
    }

    static QRect screenFrame() { return QGuiApplication::primaryScreen()->geometry(); }

    NotchReviewPresenter m_presenter{ReviewTimings{std::chrono::hours(1), 50ms}};
    int m_dismissals = 0;
};

TEST_F(NotchReviewPresenterTest, EachViewHasItsWidthAndHangsCentredFromTheTopOfTheScreen) {
    struct Row {
        const char* name;
        std::function<void(NotchReviewPresenter&)> show;
        int width;
        bool closeButton;
        bool scoreBadge;
    };
    const std::vector<Row> rows{
        {"loading", [](NotchReviewPresenter& p) { p.showLoading(); }, 240, false, false},
        {"loading where Escape may not reach Norik",
         [](NotchReviewPresenter& p) {
             p.setLoadingClosable(true);
             p.showLoading();
         },
         240, true, false},
        {"notice",
         [](NotchReviewPresenter& p) { p.showNotice(QStringLiteral("Select some text, then trigger Norik.")); }, 300,
         true, false},
        {"error", [](NotchReviewPresenter& p) { p.showError(QStringLiteral("The request timed out.")); }, 320, true,
         false},
        {"result", [](NotchReviewPresenter& p) { p.showResult(typicalResult(), std::nullopt); }, 420, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.show(m_presenter);
        NotchPanel* panel = settledPanel();
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_EQ(panel->width(), row.width);
        EXPECT_EQ(panel->x(), screenFrame().x() + (screenFrame().width() - row.width) / 2);
        EXPECT_EQ(panel->y(), screenFrame().top() - 2);
        EXPECT_EQ(closeButton() != nullptr, row.closeButton);
        EXPECT_EQ(panel->content()->findChild<ScoreBadge*>() != nullptr, row.scoreBadge);
        EXPECT_TRUE(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }
    const auto* language = m_presenter.panel()->content()->findChild<QLabel*>(QStringLiteral("language"));
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->text(), QStringLiteral("EN"));
    EXPECT_EQ(closeButton()->toolTip(), QStringLiteral("Close"));
}

TEST_F(NotchReviewPresenterTest, ResultsTallerThanTheLimitScrollAtTheLimit) {
    const int limit = NotchReviewPresenter::maximumResultHeight(QGuiApplication::primaryScreen());
    EXPECT_EQ(limit, static_cast<int>(QGuiApplication::primaryScreen()->availableGeometry().height() * 0.72));
    EXPECT_EQ(NotchReviewPresenter::maximumResultHeight(nullptr), 504);

    m_presenter.showResult(typicalResult(4), std::nullopt);
    NotchPanel* panel = settledPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->content()->findChild<QScrollArea*>(), nullptr);
    EXPECT_LT(panel->height(), limit);

    m_presenter.showResult(typicalResult(40), std::nullopt);
    panel = settledPanel();
    ASSERT_NE(panel, nullptr);
    const auto* scroll = panel->content()->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->size(), QSize(420, limit));
    EXPECT_EQ(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    const auto* header = panel->content()->findChild<QWidget*>(QStringLiteral("header"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(panel->height(), header->height() + limit);
    EXPECT_LT(panel->geometry().bottom(), QGuiApplication::primaryScreen()->geometry().bottom());
}

TEST_F(NotchReviewPresenterTest, ScoreBadgeColourChangesOnlyAtTheBandEdges) {
    const auto badgeFor = [this](std::int64_t score) {
        m_presenter.showResult(typicalResult(1, score), std::nullopt);
        const auto* badge = m_presenter.panel()->content()->findChild<ScoreBadge*>();
        EXPECT_NE(badge, nullptr);
        const auto* text = badge != nullptr ? badge->findChild<QLabel*>(QStringLiteral("score")) : nullptr;
        EXPECT_EQ(text != nullptr ? text->text() : QString(), QStringLiteral("%1/10").arg(score));
        return badge != nullptr ? badge->colour() : QColor();
    };
    // Bands: up to 4, 5-6, 7-8, from 9; out-of-range scores fall in the nearest band.
    const std::vector<std::vector<std::int64_t>> bands{{-3, 4}, {5, 6}, {7, 8}, {9, 12}};
    std::vector<QColor> colours;
    for (const auto& band : bands) {
        colours.push_back(badgeFor(band.front()));
        EXPECT_EQ(badgeFor(band.back()), colours.back()) << band.front() << "-" << band.back();
    }
    for (std::size_t i = 1; i < colours.size(); ++i) {
        EXPECT_NE(colours[i], colours[i - 1]) << "bands " << i - 1 << " and " << i;
    }
}

TEST_F(NotchReviewPresenterTest, EscapeInAnyWindowOfTheAppDismissesOnceAndGoesNoFurther) {
    QSignalSpy shown(&m_presenter, &NotchReviewPresenter::shownChanged);
    QLineEdit other;
    other.setText(QStringLiteral("x"));
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    m_presenter.showLoading();
    ASSERT_TRUE(m_presenter.isShown());
    QPointer<NotchPanel> panel = m_presenter.panel();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == panel; }));

    QTest::keyClick(&other, Qt::Key_A);
    EXPECT_EQ(other.text(), QStringLiteral("xa")) << "keys other than Escape pass through";
    EXPECT_EQ(m_dismissals, 0);

    // Escape must reach neither the focused widget nor a shortcut of another window.
    QAction cancel(&other);
    cancel.setShortcut(Qt::Key_Escape);
    cancel.setShortcutContext(Qt::ApplicationShortcut);
    other.addAction(&cancel);
    QSignalSpy triggered(&cancel, &QAction::triggered);
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(m_dismissals, 1);
    EXPECT_EQ(triggered.count(), 0);
    EXPECT_FALSE(m_presenter.isShown());
    EXPECT_TRUE(panel.isNull() || !panel->isVisible());
    ASSERT_EQ(shown.count(), 2);
    EXPECT_TRUE(shown.at(0).at(0).toBool());
    EXPECT_FALSE(shown.at(1).at(0).toBool());

    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; }));
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(m_dismissals, 1) << "Escape is watched only while the panel is up";
    EXPECT_EQ(triggered.count(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull()) << "a dismissed panel is dropped";
}

TEST_F(NotchReviewPresenterTest, CloseButtonAndTheOutsideEscapeDismissOnce) {
    m_presenter.showError(QStringLiteral("The model did not answer."));
    NotchPanel* panel = settledPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(closeButton(), nullptr);
    QTest::mouseClick(closeButton(), Qt::LeftButton);
    EXPECT_EQ(m_dismissals, 1);
    EXPECT_FALSE(m_presenter.isShown());

    m_presenter.escapePressed();
    EXPECT_EQ(m_dismissals, 1) << "an outside Escape with no panel up does nothing";

    m_presenter.showNotice(QStringLiteral("Select some text, then trigger Norik."));
    m_presenter.escapePressed();
    EXPECT_EQ(m_dismissals, 2);
    EXPECT_FALSE(m_presenter.isShown());
}

TEST_F(NotchReviewPresenterTest, ShowingWhileUpReusesThePanelAndAnimatesItsFrame) {
    m_presenter.showLoading();
    NotchPanel* loading = m_presenter.panel();
    ASSERT_NE(loading, nullptr);
    EXPECT_EQ(loading->windowOpacity(), 0.0) << "a new panel fades in";
    EXPECT_EQ(loading->height(), m_presenter.targetGeometry().height() - NotchReviewPresenter::kGrowth);
    ASSERT_EQ(settledPanel(), loading);
    EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == loading; })) << "the panel takes the keyboard";
    const QRect loadingFrame = loading->geometry();

    m_presenter.showResult(typicalResult(), std::nullopt);
    EXPECT_EQ(m_presenter.panel(), loading);
    EXPECT_EQ(loading->windowOpacity(), 1.0) << "a reused panel does not fade";
    EXPECT_EQ(loading->geometry(), loadingFrame) << "the frame starts where it was";
    EXPECT_EQ(settledPanel(), loading);
    EXPECT_EQ(loading->y(), screenFrame().top() - 2);
    EXPECT_EQ(loading->width(), 420);
    EXPECT_EQ(loading->content()->findChild<ReviewLoadingView*>(), nullptr) << "the loading view is replaced";
    EXPECT_EQ(m_dismissals, 0);

    m_presenter.dismiss();
    m_presenter.showLoading();
    EXPECT_NE(m_presenter.panel(), nullptr);
    EXPECT_EQ(m_presenter.panel()->windowOpacity(), 0.0) << "after a dismissal the next panel is new";
}

TEST_F(NotchReviewPresenterTest, ScreenshotsOfTheResultAndErrorPanels) {
    core::TutorResult result = typicalResult(4, 7);
    m_presenter.showResult(result, QStringLiteral("Only the first 4000 characters were reviewed."));
    NotchPanel* panel = settledPanel();
    ASSERT_NE(panel, nullptr);
    const QImage resultShot = panel->grab().toImage();
    EXPECT_TRUE(resultShot.save(QStringLiteral(NORIK_ARTIFACT_DIR "/result-panel.png")));
    // Black at the top, transparent in the rounded bottom corners.
    EXPECT_EQ(resultShot.pixelColor(resultShot.width() / 2, 1).rgba(), QColor(Qt::black).rgba());
    EXPECT_EQ(resultShot.pixelColor(0, resultShot.height() - 1).alpha(), 0);

    m_presenter.showError(QStringLiteral("Couldn't reach the model: the connection timed out. Check the server address "
                                         "in Settings and try again."));
    panel = settledPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->grab().save(QStringLiteral(NORIK_ARTIFACT_DIR "/error-panel.png")));
}

} // namespace
} // namespace norik::app
