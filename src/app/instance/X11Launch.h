// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QByteArray>

class QWidget;

namespace norik::app {

// Shows `window` (through `show`) as the window of the launch `startupId`, so that a window manager that
// prevents focus stealing gives it the focus: a new window carries the id, one already up is activated as
// of the launch's time, and the launcher is told the launch is complete. Without an id or outside X11, only
// `show`.
void showForLaunch(QWidget& window, const QByteArray& startupId, const std::function<void()>& show);

} // namespace norik::app
