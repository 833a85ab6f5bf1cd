// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace norik::platform::desktop {

// The primary selection as the Wayland compositor itself holds it, read through its data-control protocol
// (zwlr_data_control_manager_v1). wlroots compositors such as sway offer it; KDE Plasma 5.27 offers it without
// the primary selection, and then wl-paste finds none; GNOME does not offer it. wlroots refuses XWayland
// clients every selection while none of their windows has the focus, so there a native Wayland window's
// selection is only to be had this way. wl-paste, from wl-clipboard, speaks the protocol; it runs as a child
// process, so Norik stays an X11 client.

// Whether the compositor that $WAYLAND_DISPLAY names offers data-control; false without one. Blocks for one
// round trip to the compositor. Any thread.
[[nodiscard]] bool compositorOffersDataControl();

// Reads the selection; `done` gets its text in UTF-8, or nothing when nothing is selected, it is not text,
// wl-paste is missing, or the owner has not delivered within `timeout` or before `stop` is requested.
// `done` runs on GLib's default main context (Qt's event loop on Linux), never inside this call.
void readDataControlPrimary(std::chrono::milliseconds timeout, std::stop_token stop,
                            std::function<void(std::optional<std::string>)> done);

} // namespace norik::platform::desktop
