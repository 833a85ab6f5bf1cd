// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace norik::app {

// The first-run window as the start-up wiring sees it. Main thread only.
class Onboarding {
public:
    virtual ~Onboarding() = default;
    // Opens the window, or brings back the one closed by its close button. `onDone` runs when the user finishes
    // with "Get started", not when the window is merely closed.
    virtual void show(std::function<void()> onDone) = 0;
};

} // namespace norik::app
