// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string_view>

#include "core/shortcuts/Shortcut.h"

// Norik's own shortcuts, known to the app and to the command line alike.
namespace norik::core::shortcuts {

// "reviewSelection", by default Ctrl+Alt+Space (Carbon's Option+Command+Space).
[[nodiscard]] inline const Name& reviewSelection() {
    static const Name name{"reviewSelection", Shortcut(Key::space, ModifierFlags::option | ModifierFlags::command)};
    return name;
}

struct MenuItemShortcut {
    std::string_view title;
    Shortcut shortcut;
};

// The combinations that Norik's menu items use, which no global shortcut may take: "Settings…" is Ctrl+,.
[[nodiscard]] inline std::array<MenuItemShortcut, 1> menuItemShortcuts() {
    return {MenuItemShortcut{"Settings\u2026", Shortcut(Key::comma, ModifierFlags::command)}};
}

} // namespace norik::core::shortcuts
