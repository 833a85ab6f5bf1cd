// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <optional>
#include <stop_token>
#include <string>

#include <QObject>
#include <QString>

#include "app/HotkeyManager.h"
#include "core/history/HistoryStore.h"
#include "core/preferences/Preferences.h"
#include "core/providers/ReviewError.h"
#include "core/shortcuts/Registry.h"
#include "core/tutor/TutorResult.h"
#include "core/tutor/TutorService.h"

namespace norik::app {

class AccessibilityTrust;
class Onboarding;
class ReviewPresenter;
class SelectionCapture;

// Runs one review from trigger to record: trust test, capture, loading panel, the model call, history, result.
// At most one review is live; a new trigger or a dismissal of the panel cancels the running one, and a
// cancelled review ends without a word and records nothing. Lives on the main thread and leaves it only for
// the key lookup and the model call (on the global thread pool); the capture is asynchronous on the main thread's event
// loop.
//
// The collaborators are borrowed and must outlive the coordinator, and the preferences also every review task
// it leaves on the global thread pool, which reads the API key there. An unavailable history store is fine:
// the review then goes on without history.
class AppCoordinator final : public QObject {
    Q_OBJECT

public:
    AppCoordinator(ReviewPresenter& presenter, SelectionCapture& capture, AccessibilityTrust& trust,
                   core::HistoryStore& history, core::Preferences& preferences, core::shortcuts::Registry& shortcuts,
                   QObject* parent = nullptr);
    AppCoordinator(const AppCoordinator&) = delete;
    AppCoordinator& operator=(const AppCoordinator&) = delete;
    // Stops the review that runs, so that its model call ends at once instead of running on for nobody.
    ~AppCoordinator() override;

    // The first-run window, borrowed for start(). Without one, start() never opens it.
    void setOnboarding(Onboarding* onboarding) { m_onboarding = onboarding; }

    // The start-up wiring, once: the panel's dismissal cancels the running review, the review shortcut
    // triggers, and then, until the user has finished onboarding with "Get started", the onboarding window
    // opens; after that the user is asked for trust when synthetic key events would not reach other programs.
    void start();

    // Cancels the running review, if any, and starts a new one on the next turn of the event loop.
    void trigger();

private:
    using Outcome = std::expected<core::TutorResult, core::ReviewError>;

    void cancelReview();
    void runReview(std::stop_token stop);
    void reviewCapturedText(std::stop_token stop, const QString& captured);
    void finishReview(const std::stop_token& stop, const Outcome& outcome, const std::string& text,
                      const std::optional<QString>& note);

    HotkeyManager m_hotkey;
    ReviewPresenter& m_presenter;
    SelectionCapture& m_capture;
    AccessibilityTrust& m_trust;
    Onboarding* m_onboarding = nullptr;
    core::TutorService m_tutor;
    core::HistoryStore& m_history;
    core::Preferences& m_preferences;
    // Replaced at every trigger and never cleared; stopping a finished review does nothing.
    std::stop_source m_review;
};

} // namespace norik::app
