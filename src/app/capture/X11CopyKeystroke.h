// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include <xcb/xcb.h>

struct xkb_keymap;

namespace norik::app {

struct CopyKeyCodes {
    xcb_keycode_t control = 0;
    xcb_keycode_t c = 0;
};

// The key codes that type Ctrl and "c" in the keymap's `layout`: the key whose first level is "c" there,
// else in another (Latin) layout, else the ANSI C position, which is where Ctrl+C shortcuts fall back to.
[[nodiscard]] CopyKeyCodes copyKeyCodes(xkb_keymap* keymap, std::uint32_t layout);

// Types Ctrl+C into the focused window through XTEST on a borrowed connection, which must be the one
// that holds the hot key's keyboard grab. Every key still held (the hot key and its modifiers) is released
// first: the grab ends with it, the focused window sees Ctrl+C alone, and the held hot key cannot
// auto-repeat into the window.
void sendCopyKeystroke(xcb_connection_t* connection);

} // namespace norik::app
