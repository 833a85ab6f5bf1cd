// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppCoordinator.h"

#include <cstdint>
#include <utility>
#include <vector>

#include <QPointer>
#include <QThreadPool>

#include "app/Background.h"
#include "app/capture/SelectionCapture.h"
#include "app/onboarding/Onboarding.h"
#include "app/presentation/ReviewPresenter.h"

namespace norik::app {

namespace {

// The most frequent mistake categories written into the prompt.
constexpr std::int64_t kFrequentCategoryCount = 5;

} // namespace

AppCoordinator::AppCoordinator(ReviewPresenter& presenter, SelectionCapture& capture, AccessibilityTrust& trust,
                               core::HistoryStore& history, core::Preferences& preferences,
                               core::shortcuts::Registry& shortcuts, QObject* parent)
    : QObject(parent), m_hotkey(shortcuts), m_presenter(presenter), m_capture(capture), m_trust(trust),
      m_history(history), m_preferences(preferences) {}

AppCoordinator::~AppCoordinator() {
    m_review.request_stop();
}

void AppCoordinator::start() {
    // Both callbacks are kept by objects that may outlive the coordinator, so they hold it weakly.
    m_presenter.setOnDismiss([coordinator = QPointer<AppCoordinator>(this)] {
        if (coordinator) {
            coordinator->cancelReview();
        }
    });
    m_hotkey.setOnTrigger([coordinator = QPointer<AppCoordinator>(this)] {
        if (coordinator) {
            coordinator->trigger();
        }
    });
    m_hotkey.start();
    if (m_onboarding != nullptr && !m_preferences.hasCompletedOnboarding()) {
        m_onboarding->show([coordinator = QPointer<AppCoordinator>(this)] {
            if (coordinator) {
                // A flag that cannot be written only means that onboarding opens again at the next start.
                static_cast<void>(coordinator->m_preferences.setFromText(core::kOnboardingKey, "true"));
            }
        });
        return;
    }
    if (!m_trust.isTrusted()) {
        m_trust.requestTrust();
    }
}

void AppCoordinator::trigger() {
    m_review.request_stop();
    m_review = std::stop_source();
    // Queued on the coordinator: a review whose coordinator is gone before it starts never runs.
    QMetaObject::invokeMethod(
        this, [this, stop = m_review.get_token()] { runReview(stop); }, Qt::QueuedConnection);
}

void AppCoordinator::cancelReview() {
    m_review.request_stop();
}

void AppCoordinator::runReview(std::stop_token stop) {
    if (!m_trust.isTrusted()) {
        m_trust.requestTrust();
        return;
    }
    if (stop.stop_requested()) {
        return;
    }
    // A capture that is stopped still answers; the review then goes on and ends silently at the model call.
    m_capture.capture(stop, [coordinator = QPointer<AppCoordinator>(this), stop](std::optional<QString> text) {
        if (coordinator) {
            coordinator->reviewCapturedText(stop, text.value_or(QString()));
        }
    });
}

void AppCoordinator::reviewCapturedText(std::stop_token stop, const QString& captured) {
    std::optional<core::PreparedText> prepared = core::prepareReviewText(captured.toStdString());
    if (!prepared) {
        m_presenter.showNotice(QString::fromUtf8(core::kEmptySelectionNotice));
        return;
    }
    std::optional<QString> note;
    if (prepared->note) {
        note = QString::fromStdString(*prepared->note);
    }

    m_presenter.showLoading();
    std::vector<std::string> categories = m_history.topCategories(kFrequentCategoryCount);
    core::Preferences::Snapshot snapshot = m_preferences.snapshotWithoutKey();

    // The key is read with the model call: a locked keyring may hold the lookup up until the user answers
    // its prompt, and the panel has to stay responsive meanwhile, Escape included.
    runInBackground(
        *QThreadPool::globalInstance(), this,
        [tutor = m_tutor, stop, text = prepared->text, snapshot = std::move(snapshot),
         categories = std::move(categories), &preferences = m_preferences]() mutable {
            snapshot.apiKey = preferences.apiKey(snapshot.provider);
            return tutor.review(text, snapshot, categories, stop);
        },
        [this, stop, text = prepared->text, note = std::move(note)](const Outcome& outcome) {
            finishReview(stop, outcome, text, note);
        });
}

void AppCoordinator::finishReview(const std::stop_token& stop, const Outcome& outcome, const std::string& text,
                                  const std::optional<QString>& note) {
    // Checked first because a client may turn a stop into another error, or finish just after it.
    if (stop.stop_requested()) {
        return;
    }
    if (!outcome) {
        if (!outcome.error().isCancellation()) {
            m_presenter.showError(QString::fromStdString(outcome.error().userMessage()));
        }
        return;
    }
    // Recorded before it is shown, with the limit of this moment and the very text that was sent.
    if (const auto recorded = m_history.record(*outcome, text, m_preferences.retentionLimit()); !recorded) {
        const QString lost = QStringLiteral("This review was not kept in the history: %1.")
                                 .arg(QString::fromStdString(recorded.error()));
        m_presenter.showResult(*outcome, note ? *note + QLatin1Char(' ') + lost : lost);
        return;
    }
    m_presenter.showResult(*outcome, note);
}

} // namespace norik::app
