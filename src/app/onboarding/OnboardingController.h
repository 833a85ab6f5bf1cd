// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <QObject>
#include <QPointer>

#include "app/onboarding/Onboarding.h"
#include "app/onboarding/OnboardingView.h"

namespace norik::app {

// Owns the window "Welcome to Norik": built at the first show(), kept when its close button hides it (a later
// show() brings the same window back), closed and forgotten after "Get started". Main thread only; the recorder
// context must outlive it.
class OnboardingController final : public QObject, public Onboarding {
    Q_OBJECT

public:
    // `actions.onDone` is ignored: show() supplies it.
    OnboardingController(OnboardingView::Actions actions, RecorderContext& shortcuts, QObject* parent = nullptr);
    ~OnboardingController() override;

    void show(std::function<void()> onDone) override;

    // The window while it exists; null before the first show() and after "Get started".
    [[nodiscard]] OnboardingView* window() const { return m_window.get(); }

signals:
    // A new window was built, for the app to add its options to.
    void windowBuilt(OnboardingView* window);
    // "Get started" was chosen; the window and its options still exist while this is handled.
    void completed(OnboardingView* window);

private:
    OnboardingView::Actions m_actions;
    RecorderContext& m_shortcuts;
    std::unique_ptr<OnboardingView> m_window;
};

} // namespace norik::app
