// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <xcb/xcb.h>

#include "app/capture/SelectionCapture.h"

namespace norik::app {

// Synthetic key events reach other X11 clients through the XTEST extension, which X servers offer unless
// started without it; there is no per-application permission to ask for.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    using Explain = std::function<void(const QString& message)>;

    // Borrows the connection. Without `explain` the explanation goes to the warning log.
    explicit X11AccessibilityTrust(xcb_connection_t* connection, Explain explain = {});
    // On Qt's X11 connection; null when the application does not run on X11.
    [[nodiscard]] static std::unique_ptr<X11AccessibilityTrust> forApplication(Explain explain = {});

    [[nodiscard]] bool isTrusted() override;
    // Explains why the copy keystroke cannot be typed, when it cannot.
    void requestTrust() override;

private:
    xcb_connection_t* m_connection;
    Explain m_explain;
};

} // namespace norik::app
