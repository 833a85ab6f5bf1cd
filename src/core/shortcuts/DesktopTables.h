// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>
#include <vector>

#include "core/shortcuts/KeyboardLayout.h"
#include "core/shortcuts/Shortcut.h"

// The shortcuts that a desktop keeps in its own files, read from the files' text. Entries that do not read as a
// combination of known keys are left out; a text that is not of the expected kind gives nothing.
namespace norik::core::shortcuts {

// KDE's kglobalshortcutsrc: "Action=active shortcuts,default shortcuts,description", several active shortcuts
// separated by tabs, "none" for none.
[[nodiscard]] std::vector<Shortcut> kdeGlobalShortcuts(std::string_view text, const KeyboardLayout& layout);
// Xfce's xfce4-keyboard-shortcuts.xml: the accelerators of the "custom" command and window-manager tables.
[[nodiscard]] std::vector<Shortcut> xfceKeyboardShortcuts(std::string_view text, const KeyboardLayout& layout);
// fcitx5's config: the keys of its "Hotkey/…" sections, such as the input method switch.
[[nodiscard]] std::vector<Shortcut> fcitx5HotKeys(std::string_view text, const KeyboardLayout& layout);
// GTK accelerators as GNOME's and IBus's settings hold them.
[[nodiscard]] std::vector<Shortcut> acceleratorShortcuts(const std::vector<std::string>& accelerators,
                                                         const KeyboardLayout& layout);

} // namespace norik::core::shortcuts
