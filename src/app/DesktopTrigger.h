// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include <xcb/xcb.h>

#include "app/shortcuts/RecorderContext.h"
#include "core/shortcuts/Registry.h"

namespace norik::app {

// The review shortcut where Norik's own key grab does not reach every window, as in Wayland sessions: bound
// through the desktop's GlobalShortcuts portal, through GNOME's custom shortcuts (Norik's own entry, kept
// to the recorded shortcut), or left to the user as a command to bind. While the desktop holds the binding,
// the registry's own key grabs are suspended (Registry::setEnabled), and they come back when it lets go (the
// user took Norik's entry out of GNOME's list). Also tells whether the session shows tray icons. Main thread
// only; the portal and GNOME's settings answer on the event loop.
class DesktopTrigger {
public:
    // Looks at the session (blocking for a second or two at most while the session bus answers) and sets
    // up the route; `trigger` runs at each press the portal reports.
    DesktopTrigger(core::shortcuts::Registry& registry, xcb_connection_t* x11, std::function<void()> trigger);
    DesktopTrigger(const DesktopTrigger&) = delete;
    DesktopTrigger& operator=(const DesktopTrigger&) = delete;
    ~DesktopTrigger();

    // For the rows beside the review recorders; valid while this object lives.
    [[nodiscard]] TriggerRouteState state();
    [[nodiscard]] bool hasTray() const;
    [[nodiscard]] bool onGnome() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace norik::app
