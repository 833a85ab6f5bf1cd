// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include <xkbcommon/xkbcommon.h>

#include "core/shortcuts/Shortcut.h"

namespace norik::platform::desktop {

// A stored shortcut as Wayland desktops name key combinations. Keys are named by the keysym that the key
// types without modifiers in `layout` of `keymap` ("space", "a", "F1", "Prior"), since desktops bind
// keysyms; Command is Ctrl, Option is Alt, Control is Super, and Fn, which Linux has no modifier for, is
// dropped. Absent when the key has no Linux key code or types nothing in that layout.

// The XDG shortcuts format the GlobalShortcuts portal takes as preferred trigger: "CTRL+ALT+space".
[[nodiscard]] std::optional<std::string> xdgTrigger(const core::shortcuts::Shortcut& shortcut, xkb_keymap* keymap,
                                                    xkb_layout_index_t layout);
// A GNOME accelerator: "<Control><Alt>space".
[[nodiscard]] std::optional<std::string> gnomeAccelerator(const core::shortcuts::Shortcut& shortcut, xkb_keymap* keymap,
                                                          xkb_layout_index_t layout);

} // namespace norik::platform::desktop
