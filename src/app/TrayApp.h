// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norik::app {

// The desktop app: an icon in the system tray with "Review selection" and "Quit Norik", the review shortcut,
// and the review panel. Needs an X11 session; returns the process's exit code.
int runTrayApp(int argc, char** argv);

} // namespace norik::app
