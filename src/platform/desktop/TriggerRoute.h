// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norik::platform::desktop {

// How the review shortcut reaches Norik in a session.
enum class TriggerRoute {
    x11Grab,             // an X11 session: Norik grabs the key itself
    portal,              // the desktop's GlobalShortcuts portal binds it
    gnomeCustomShortcut, // GNOME's custom keyboard shortcuts run `norik trigger`
    manualCommand,       // the user binds `norik trigger` in the compositor's own configuration
};

} // namespace norik::platform::desktop
