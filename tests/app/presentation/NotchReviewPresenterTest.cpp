// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/NotchReviewPresenter.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/presentation/ReviewViews.h"

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

} // namespace
} // namespace norik::app
