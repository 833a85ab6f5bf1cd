// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <stop_token>

#include <QString>

namespace norik::app {

// Reads the text the user selected in the active application by having it copy, then puts the user's
// clipboard back as it was. Main thread only; asynchronous on the main thread's event loop (it never
// blocks it). `done` runs exactly once, on the main thread, with the text or absent (nothing copied in
// time, or no plain text). A stop request ends the waiting at once; `done` still runs.
class SelectionCapture {
public:
    virtual ~SelectionCapture() = default;
    virtual void capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) = 0;
};

// Whether synthetic key events reach other applications. On X11 they do when the server offers XTEST;
// there is nothing to ask the user for, so requestTrust() only has to explain.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;
    [[nodiscard]] virtual bool isTrusted() = 0;
    virtual void requestTrust() = 0;
};

} // namespace norik::app
