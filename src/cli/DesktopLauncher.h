// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norik::cli {

// Starts the tray app, which lives in a module of its own (libnorik-desktop.so) so that the command line
// never loads Qt. Returns the app's exit code, or 1 with a message on standard error when there is no X11
// display or the module is not installed.
[[nodiscard]] int launchDesktop(int argc, char** argv);

} // namespace norik::cli
