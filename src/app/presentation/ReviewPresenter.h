// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "core/tutor/TutorResult.h"

namespace norik::app {

// What the review coordinator needs of the review panel. Each show replaces what the panel shows; the
// panel stays up until the user dismisses it (Escape or its close button). Main thread only.
class ReviewPresenter {
public:
    virtual ~ReviewPresenter() = default;

    virtual void showLoading() = 0;                      // no header, no close button
    virtual void showNotice(const QString& message) = 0; // no header, with the close button
    virtual void showError(const QString& message) = 0;  // no header, with the close button
    // The result view with the score header; `note` (the truncation note) is shown above the texts.
    virtual void showResult(const core::TutorResult& result, const std::optional<QString>& note) = 0;
    // Runs at the start of every dismissal, before the panel goes away.
    virtual void setOnDismiss(std::function<void()> onDismiss) = 0;
};

} // namespace norik::app
