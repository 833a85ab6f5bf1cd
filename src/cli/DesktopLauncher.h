// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norik::cli {

// Starts the tray app, which lives in a module of its own (libnorik-desktop.so) so that the command line
// never loads Qt. When a Norik already runs for this user (or is starting: it holds the instance lock),
// asks it to open its settings instead and returns 0 without loading the module. Returns the app's exit
// code, or 1 with a message on standard error when there is no X11 display, the module is not installed,
// or a running Norik could not be reached.
[[nodiscard]] int launchDesktop(int argc, char** argv);

} // namespace norik::cli
