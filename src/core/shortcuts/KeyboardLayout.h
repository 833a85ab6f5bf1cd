// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/shortcuts/Shortcut.h"

struct xkb_keymap;

namespace norik::core::shortcuts {

// A keyboard layout as xkbcommon compiles it: which character each physical key types. The X11 backend
// builds one from the server's current keymap; one can also be compiled from layout names.
class KeyboardLayout {
public:
    // Takes its own reference to `keymap`; `layoutIndex` is the active group.
    KeyboardLayout(xkb_keymap* keymap, std::uint32_t layoutIndex);

    // "us", "de", "fr" with an optional variant, from the system's xkb data.
    [[nodiscard]] static std::expected<KeyboardLayout, std::string> fromNames(std::string_view layout,
                                                                              std::string_view variant = {});

    // The one character (grapheme) that the bare key types in this layout; absent for special keys, keys
    // without a Linux key code, and keys that type nothing printable or more than one character.
    [[nodiscard]] std::optional<std::string> keyToCharacter(Key key) const;

    // The physical key that types the X keysym on its first or its shifted level (letters in either case);
    // absent when no key of the key table does.
    [[nodiscard]] std::optional<Key> keyForKeysym(std::uint32_t keysym) const;

private:
    struct KeymapUnref {
        void operator()(xkb_keymap* keymap) const;
    };

    std::shared_ptr<xkb_keymap> m_keymap;
    std::uint32_t m_layoutIndex = 0;
};

} // namespace norik::core::shortcuts
