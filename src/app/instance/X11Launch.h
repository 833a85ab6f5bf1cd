// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>

class QWidget;

namespace norik::app {

// Shows `window` (through `show`) as the window of the launch `startupId`, so that a window manager that
// prevents focus stealing gives it the focus: a new window carries the id, one already up is activated as
// of the launch's time, and the launcher is told the launch is complete. Without an id or outside X11, only
// `show`.
void showForLaunch(QWidget& window, const QByteArray& startupId, const std::function<void()>& show);

// Asks the window manager to give the shown `window` the focus on behalf of the user's action at `time`, on
// the X server's clock (a key press's, a launch's), so that one that prevents focus stealing compares that
// moment, not Qt's last event, with the focused window's last use. Does nothing outside X11 or without a time.
void activateAsOf(const QWidget& window, std::uint32_t time);

// The time a launcher stamped on its startup id ("…_TIME1234"), the moment the user asked.
[[nodiscard]] std::optional<std::uint32_t> launchTime(const QByteArray& startupId);

} // namespace norik::app
