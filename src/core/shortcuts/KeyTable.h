// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

// One row of the table between Carbon virtual key codes and Linux evdev key codes (an X11 key code is the
// evdev code + 8). The rows are generated from Debian's xkb-data key code files; see
// generate-key-code-table.py for the sources and for the rows where Carbon and the old Apple table differ.
struct KeyCodePair {
    std::int64_t carbon;
    std::uint32_t evdev;
};

[[nodiscard]] std::span<const KeyCodePair> keyCodePairs();
[[nodiscard]] std::optional<std::uint32_t> evdevCode(Key key);
[[nodiscard]] std::optional<Key> keyForEvdevCode(std::uint32_t evdev);
// X servers and xkbcommon keymaps number a key by its evdev code + 8.
inline constexpr std::uint32_t kEvdevToXkb = 8;
// The key's code in an X server or an xkbcommon keymap.
[[nodiscard]] std::optional<std::uint32_t> xkbKeyCode(Key key);

// The keys shown by a glyph or a name of their own rather than by the character that the layout prints.
enum class SpecialKey {
    returnKey,
    deleteKey,
    deleteForward,
    end,
    escape,
    help,
    home,
    space,
    tab,
    pageUp,
    pageDown,
    upArrow,
    rightArrow,
    downArrow,
    leftArrow,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
    keypad0,
    keypad1,
    keypad2,
    keypad3,
    keypad4,
    keypad5,
    keypad6,
    keypad7,
    keypad8,
    keypad9,
    keypadClear,
    keypadDecimal,
    keypadDivide,
    keypadEnter,
    keypadEquals,
    keypadMinus,
    keypadMultiply,
    keypadPlus,
};

inline constexpr std::size_t specialKeyCount = 53;

[[nodiscard]] std::optional<SpecialKey> specialKey(Key key);
[[nodiscard]] Key keyOf(SpecialKey special);
// The glyph shown for the key; the space bar shows the localised "space_key" word.
[[nodiscard]] std::string presentableDescription(SpecialKey special);
// The text a menu item carries as its key equivalent for the key; absent for keypad keys.
[[nodiscard]] std::optional<std::string_view> menuKeyEquivalent(SpecialKey special);
// The key as a Linux desktop names it: "Space", "Page Up", "Num 0".
[[nodiscard]] std::string_view keyName(SpecialKey special);

} // namespace norik::core::shortcuts
