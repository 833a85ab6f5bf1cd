// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/ReviewViews.h"

#include <memory>
#include <string>
#include <vector>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QTest>
#include <gtest/gtest.h>

#include "PresentationTesting.h"

#include "app/presentation/Theme.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using testing::typicalResult;
using testing::waitUntil;

constexpr auto kCopiedDuration = 60ms;

// A result view shown in a window of its own, at the width the presenter gives it.
std::unique_ptr<ReviewView> shownView(const core::TutorResult& result, const std::optional<QString>& note) {
    auto view = std::make_unique<ReviewView>(result, note, kCopiedDuration, nullptr);
    view->setFixedWidth(420);
    view->show();
    return view;
}

QLabel* sectionBody(const QWidget& view, const char* section) {
    const auto* card = view.findChild<QWidget*>(QString::fromLatin1(section));
    return card != nullptr ? card->findChild<QLabel*>(QStringLiteral("body")) : nullptr;
}

TEST(ReviewViewTest, SectionsFollowTheNoteAndTheIssues) {
    {
        SCOPED_TRACE("a note goes above the sections, issues add What to learn");
        const auto view = shownView(typicalResult(), QStringLiteral("Only the first 4000 characters were reviewed."));
        const auto* note = view->findChild<QWidget*>(QStringLiteral("note"));
        const auto* corrected = view->findChild<QWidget*>(QStringLiteral("corrected"));
        const auto* improved = view->findChild<QWidget*>(QStringLiteral("improved"));
        const auto* learn = view->findChild<QWidget*>(QStringLiteral("whatToLearn"));
        ASSERT_TRUE(note && corrected && improved && learn);
        EXPECT_LT(note->y(), corrected->y());
        EXPECT_LT(corrected->y(), improved->y());
        EXPECT_LT(improved->y(), learn->y());
        const auto labels = note->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels.front()->text(), QStringLiteral("Only the first 4000 characters were reviewed."));
    }
    {
        SCOPED_TRACE("without issues and without a note only the two texts are shown");
        const auto view = shownView(typicalResult(0), std::nullopt);
        EXPECT_EQ(view->findChild<QWidget*>(QStringLiteral("note")), nullptr);
        EXPECT_EQ(view->findChild<QWidget*>(QStringLiteral("whatToLearn")), nullptr);
        EXPECT_TRUE(view->findChildren<CategoryPill*>().isEmpty());
        ASSERT_NE(sectionBody(*view, "corrected"), nullptr);
        ASSERT_NE(sectionBody(*view, "improved"), nullptr);
        EXPECT_EQ(view->findChild<QWidget*>(QStringLiteral("corrected"))->y(), view->layout()->contentsMargins().top());
    }
}

TEST(ReviewViewTest, TextsAreShownExactlyAsWrittenAndTheTwoTextsAreSelectable) {
    core::TutorResult result = typicalResult(1);
    result.corrected = "<b>Bold?</b> **not markdown** & \"quotes\"";
    result.improved = result.corrected;
    result.issues.front().excerpt = "<i>excerpt</i>";
    result.issues.front().explanation = "Use `code`, not <code>.";
    const auto view = shownView(result, std::nullopt);

    for (const char* section : {"corrected", "improved"}) {
        SCOPED_TRACE(section);
        const QLabel* body = sectionBody(*view, section);
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(body->text(), QString::fromStdString(result.corrected));
        EXPECT_EQ(body->textFormat(), Qt::PlainText);
        EXPECT_TRUE(body->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        EXPECT_TRUE(body->wordWrap());
    }
    const auto* learn = view->findChild<QWidget*>(QStringLiteral("whatToLearn"));
    ASSERT_NE(learn, nullptr);
    std::vector<QString> shown;
    for (const QLabel* label : learn->findChildren<QLabel*>()) {
        if (label->textFormat() == Qt::PlainText) {
            shown.push_back(label->text());
        }
    }
    EXPECT_NE(std::ranges::find(shown, QStringLiteral("<i>excerpt</i>")), shown.end());
    EXPECT_NE(std::ranges::find(shown, QStringLiteral("Use `code`, not <code>.")), shown.end());
}

TEST(ReviewViewTest, IssuesGetPillsOfTheirNormalisedCategoryInListOrder) {
    struct Row {
        std::string written;
        QString label;
    };
    const std::vector<Row> rows{
        {"grammar", QStringLiteral("GRAMMAR")}, {"Word Choice", QStringLiteral("WORD-CHOICE")},
        {"other", QStringLiteral("OTHER")},     {"tone of voice", QStringLiteral("OTHER")},
        {"", QStringLiteral("OTHER")},
    };
    core::TutorResult result = typicalResult(0);
    for (const Row& row : rows) {
        result.issues.push_back(testing::issue("excerpt", "explanation", row.written));
    }
    const auto view = shownView(result, std::nullopt);

    auto pills = view->findChildren<CategoryPill*>();
    std::ranges::sort(pills, {}, [](const CategoryPill* pill) { return pill->mapTo(pill->window(), QPoint()).y(); });
    ASSERT_EQ(pills.size(), static_cast<qsizetype>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].written);
        const CategoryPill* pill = pills[static_cast<qsizetype>(i)];
        EXPECT_EQ(pill->text(), rows[i].label);
        EXPECT_EQ(pill->fill().rgb(), pill->colour().rgb()) << "the capsule is a wash of the text's colour";
    }
    // A category Norik does not know looks like "other", and the known ones apart from it.
    EXPECT_EQ(pills[3]->colour(), pills[2]->colour());
    EXPECT_NE(pills[0]->colour(), pills[1]->colour());
    EXPECT_NE(pills[0]->colour(), pills[2]->colour());
}

TEST(CopyButtonTest, ClickPutsExactlyTheSectionTextOnTheClipboardAndShowsTheCheckMarkForAWhile) {
    core::TutorResult result = typicalResult();
    result.corrected = "Corrected line one.\nLine two with ünïcödé ✓";
    const auto view = shownView(result, std::nullopt);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    QGuiApplication::clipboard()->setText(QStringLiteral("the user's own clipboard"));

    for (const auto& [section, expected] :
         {std::pair{"corrected", result.corrected}, std::pair{"improved", result.improved}}) {
        SCOPED_TRACE(section);
        auto* copy = view->findChild<QWidget*>(QString::fromLatin1(section))->findChild<CopyButton*>();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->toolTip(), QStringLiteral("Copy"));
        EXPECT_EQ(copy->symbol(), Symbol::docOnDoc);
        QTest::mouseClick(copy, Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
        EXPECT_TRUE(copy->isCopied());
        EXPECT_EQ(copy->symbol(), Symbol::checkmark);
        EXPECT_EQ(copy->colour().rgba(), theme::kGreen);
        EXPECT_TRUE(waitUntil([&] { return !copy->isCopied(); }));
        EXPECT_EQ(copy->symbol(), Symbol::docOnDoc);
    }
    EXPECT_EQ(view->findChild<QWidget*>(QStringLiteral("whatToLearn"))->findChild<CopyButton*>(), nullptr);
}

TEST(ReviewLoadingViewTest, CancelHintAppearsAfterTheDelayOnScreenOnlyWithoutChangingTheSize) {
    constexpr auto delay = 150ms;
    {
        SCOPED_TRACE("on screen long enough");
        ReviewLoadingView view(delay, nullptr);
        view.setFixedWidth(240);
        view.show();
        const QSize before = view.sizeHint();
        const auto* hint = view.findChild<QLabel*>(QStringLiteral("slowHint"));
        ASSERT_NE(hint, nullptr);
        EXPECT_EQ(hint->text(), QStringLiteral("Press Esc to cancel"));
        EXPECT_FALSE(view.isSlow());
        EXPECT_EQ(hint->palette().color(QPalette::WindowText).alpha(), 0);
        EXPECT_TRUE(waitUntil([&] { return view.isSlow(); }));
        EXPECT_GT(hint->palette().color(QPalette::WindowText).alpha(), 0);
        EXPECT_EQ(view.sizeHint(), before);
    }
    {
        SCOPED_TRACE("taken off screen before the delay");
        ReviewLoadingView view(delay, nullptr);
        view.show();
        view.hide();
        testing::runFor(delay * 3);
        EXPECT_FALSE(view.isSlow());
    }
}

TEST(NorikSpinnerTest, TurnsOnlyWhileShown) {
    ReviewLoadingView view(1h, nullptr);
    auto* spinner = view.findChild<NorikSpinner*>();
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(spinner->isSpinning());
    view.show();
    EXPECT_TRUE(spinner->isSpinning());
    view.hide();
    EXPECT_FALSE(spinner->isSpinning());
}

TEST(ReviewMessageViewTest, LongMessagesWrapCentredAndGrowInHeightOnly) {
    const QString shortMessage = QStringLiteral("The request timed out.");
    const QString longMessage = shortMessage.repeated(12);
    for (const auto kind : {ReviewMessageView::Kind::error, ReviewMessageView::Kind::notice}) {
        ReviewMessageView shortView(kind, shortMessage, nullptr);
        ReviewMessageView longView(kind, longMessage, nullptr);
        for (ReviewMessageView* view : {&shortView, &longView}) {
            view->setFixedWidth(320);
        }
        EXPECT_GT(longView.heightForWidth(320), shortView.heightForWidth(320) + 20);
        const auto* text = longView.findChild<QLabel*>(QStringLiteral("message"));
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->alignment().testFlag(Qt::AlignHCenter));
        EXPECT_EQ(text->text(), longMessage);
    }
}

} // namespace
} // namespace norik::app
