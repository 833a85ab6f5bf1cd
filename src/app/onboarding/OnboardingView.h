// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QDialog>
#include <QTimer>

#include "app/shortcuts/RecorderContext.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace norik::app {

class StepBadge;

// The content of "Welcome to Norik": three steps (let Norik send Copy, choose an AI backend, the shortcut with
// its recorder) and "Get started", the default button. While shown it asks once a second whether Norik can
// send Copy, so that step 1 turns done soon after that changes. Main thread only.
class OnboardingView final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 560;

    struct Actions {
        std::function<void()> onDone;
        std::function<void()> openSettings;
        // Whether Norik can send Copy to other windows.
        std::function<bool()> canSendCopy;
        // Tells the user what to do when it cannot.
        std::function<void()> explainCopy;
    };

    OnboardingView(Actions actions, RecorderContext& shortcuts, QWidget* parent = nullptr);

    // A further option row (a switch), placed after the steps.
    void addOption(QWidget* option);
    [[nodiscard]] bool copyGranted() const { return m_granted; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void pollCopy();

    Actions m_actions;
    QVBoxLayout* m_column = nullptr;
    StepBadge* m_copyBadge = nullptr;
    QLabel* m_grantedLabel = nullptr;
    QPushButton* m_grant = nullptr;
    QTimer m_poll;
    bool m_granted = false;
};

} // namespace norik::app
