// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/shortcuts/KeyboardLayout.h"
#include "core/shortcuts/Shortcut.h"

// Key combinations written as text: as Norik writes them ("Ctrl+Alt+Space"), as KDE and fcitx5 store them
// ("Meta+Shift+F1", "Control+space") and as GTK accelerators ("<Primary><Alt>t"). Keys are found by name
// (Norik's key names, X keysym names in any case) or by the one character they type in `layout`.
namespace norik::core::shortcuts {

// Fails with a sentence naming what is not understood.
[[nodiscard]] std::expected<Shortcut, std::string> parseWords(std::string_view text, const KeyboardLayout& layout);
// Absent for anything that is not a GTK accelerator of a known key.
[[nodiscard]] std::optional<Shortcut> parseAccelerator(std::string_view text, const KeyboardLayout& layout);

// Why a combination cannot be a global shortcut: without Ctrl, Alt or Super only an F key may stand alone
// (Shift does not count, it only changes what a key types). Absent when it can.
[[nodiscard]] std::optional<std::string> refusalOf(const Shortcut& shortcut);
// F1…F20.
[[nodiscard]] bool isFunctionKey(Key key);

} // namespace norik::core::shortcuts
