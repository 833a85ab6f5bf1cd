// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/onboarding/OnboardingController.h"

#include <utility>

#include <QGuiApplication>
#include <QScreen>

namespace norik::app {

OnboardingController::OnboardingController(OnboardingView::Actions actions, RecorderContext& shortcuts, QObject* parent)
    : QObject(parent), m_actions(std::move(actions)), m_shortcuts(shortcuts) {}

OnboardingController::~OnboardingController() = default;

void OnboardingController::show(std::function<void()> onDone) {
    if (!m_window) {
        OnboardingView::Actions actions = m_actions;
        actions.onDone = [controller = QPointer<OnboardingController>(this), onDone = std::move(onDone)] {
            if (onDone) {
                onDone();
            }
            // The window is deleted later: this runs inside its own button's signal.
            if (controller && controller->m_window) {
                emit controller->completed(controller->m_window.get());
                controller->m_window->hide();
                controller->m_window.release()->deleteLater();
            }
        };
        m_window = std::make_unique<OnboardingView>(std::move(actions), m_shortcuts);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
        emit windowBuilt(m_window.get());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace norik::app
