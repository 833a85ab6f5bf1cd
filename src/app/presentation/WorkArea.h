// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QRect>
#include <xcb/xcb.h>

class QScreen;

namespace norik::app {

// The part of `screen` (in X pixels) that the desktop leaves to windows on its current desktop: the
// monitor's rectangle of _GTK_WORKAREAS_D<n> where the desktop sets it; else, under a window manager that
// lists its clients, `screen` less the struts of docks along it; else the desktop's _NET_WORKAREA, cut to
// `screen`. Absent when none of these gives an area that overlaps `screen`.
[[nodiscard]] std::optional<QRect> x11WorkArea(xcb_connection_t* connection, xcb_window_t root, const QRect& screen);

// The part of `screen` left to windows. Qt's available geometry covers the whole screen on multi-screen
// X11, so on X11 the desktop's own work area counts; elsewhere, or without one, the available geometry.
[[nodiscard]] QRect workArea(const QScreen& screen);

} // namespace norik::app
