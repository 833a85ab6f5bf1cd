// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "cli/Command.h"

// The review shortcut from the command line, in the words Norik shows it in ("Ctrl+Alt+Space"). A running
// Norik follows every change at once.
namespace norik::cli {

// Prints the shortcut, or "(none)" when it was cleared.
[[nodiscard]] CommandResult runShortcutShow(Context& context);
// Refuses, with exit code 2, words that name no key or a combination a recorder refuses, and, with exit code 1,
// a combination of a Norik menu item or, when an X display can be reached, one the system uses (unless
// `force`).
[[nodiscard]] CommandResult runShortcutSet(const std::string& words, bool force, Context& context);
[[nodiscard]] CommandResult runShortcutClear(Context& context);

} // namespace norik::cli
