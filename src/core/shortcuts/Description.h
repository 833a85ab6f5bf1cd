// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/shortcuts/KeyboardLayout.h"
#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

// Keys outside the special-key map show the character that `layout` prints on them (U+FFFD without a
// layout or when the key prints no single character), capitalised.

// The modifier glyphs in the fixed order ⌃⌥⇧⌘ then the globe of the function key.
[[nodiscard]] std::string modifierGlyphs(ModifierFlags flags);
// "⌥⌘Space", "⌃⇧K", "F5".
[[nodiscard]] std::string description(const Shortcut& shortcut, const KeyboardLayout* layout);
// The form a Linux desktop shows: "Ctrl+Alt+Space", modifiers in the order Ctrl, Alt, Shift, Super, Fn.
[[nodiscard]] std::string wordsDescription(const Shortcut& shortcut, const KeyboardLayout* layout);
// The text that a menu item carries as key equivalent for the shortcut's key.
[[nodiscard]] std::optional<std::string> menuKeyEquivalent(const Shortcut& shortcut, const KeyboardLayout* layout);

} // namespace norik::core::shortcuts
