// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <gio/gio.h>
#include <xcb/xcb.h>

#include "platform/desktop/TriggerRoute.h"

namespace norik::platform::desktop {

enum class Desktop { gnome, kde, other };

struct SessionFacts {
    bool wayland = false;
    Desktop desktop = Desktop::other;
    // A StatusNotifier host (KDE, the GNOME AppIndicator extension, waybar, …) takes tray icons.
    bool statusNotifierHost = false;
    // An XEmbed system tray owns the X11 tray selection.
    bool xembedTray = false;

    [[nodiscard]] bool hasTray() const { return statusNotifierHost || xembedTray; }
};

using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The process environment.
[[nodiscard]] std::optional<std::string> processEnvironment(std::string_view name);

// Looks at the session: its type and desktop from the environment, a StatusNotifier host on `bus` (skipped
// when null) and an XEmbed tray on `x11` (skipped when null). Blocks for at most a second on the bus.
// Any thread; the connections are only read.
[[nodiscard]] SessionFacts probeSession(const EnvironmentLookup& environment, GDBusConnection* bus,
                                        xcb_connection_t* x11, int screenNumber = 0);

// The portal wins where it exists (KDE Plasma and any desktop whose portal implements it); GNOME without
// it gets its custom shortcut when the settings daemon's schemas are there; other Wayland compositors
// leave the binding to the user.
[[nodiscard]] TriggerRoute chooseTriggerRoute(const SessionFacts& facts, bool portalAvailable,
                                              bool gnomeShortcutsAvailable);

} // namespace norik::platform::desktop
