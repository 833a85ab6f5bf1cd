// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11CopyKeystroke.h"

#include <memory>
#include <optional>

#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/x11/XcbHandles.h"

namespace norik::app {

using platform::x11::XcbReply;

namespace {

// evdev key code + 8, the X11 key code of the ANSI C and left Control positions.
constexpr xcb_keycode_t ansiC = 54;
constexpr xcb_keycode_t ansiLeftControl = 37;

struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

std::optional<xcb_keycode_t> keyTyping(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t wanted) {
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= last && key <= 255; ++key) {
        if (layout >= xkb_keymap_num_layouts_for_key(keymap, key)) {
            continue;
        }
        const xkb_keysym_t* symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &symbols);
        for (int index = 0; index < count; ++index) {
            if (symbols[index] == wanted) {
                return static_cast<xcb_keycode_t>(key);
            }
        }
    }
    return std::nullopt;
}

void fakeKey(xcb_connection_t* connection, std::uint8_t type, xcb_keycode_t key) {
    xcb_test_fake_input(connection, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

} // namespace

CopyKeyCodes copyKeyCodes(xkb_keymap* keymap, std::uint32_t layout) {
    CopyKeyCodes codes{keyTyping(keymap, layout, XKB_KEY_Control_L).value_or(ansiLeftControl), ansiC};
    if (const auto key = keyTyping(keymap, layout, XKB_KEY_c)) {
        codes.c = *key;
        return codes;
    }
    for (xkb_layout_index_t other = 0; other < xkb_keymap_num_layouts(keymap); ++other) {
        if (const auto key = keyTyping(keymap, other, XKB_KEY_c)) {
            codes.c = *key;
            return codes;
        }
    }
    return codes;
}

namespace {

// The key codes in the layout active now, read at every capture rather than cached: the user may have
// switched layouts since the last one. The ANSI positions when the keymap cannot be read.
CopyKeyCodes currentCopyKeyCodes(xcb_connection_t* connection) {
    const std::unique_ptr<xkb_context, ContextUnref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context ||
        xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) == 0) {
        return {ansiLeftControl, ansiC};
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    const std::unique_ptr<xkb_keymap, KeymapUnref> keymap(
        xkb_x11_keymap_new_from_device(context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return {ansiLeftControl, ansiC};
    }
    const std::unique_ptr<xkb_state, StateUnref> state(xkb_x11_state_new_from_device(keymap.get(), connection, device));
    const xkb_layout_index_t layout = state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    return copyKeyCodes(keymap.get(), layout);
}

} // namespace

void sendCopyKeystroke(xcb_connection_t* connection) {
    const CopyKeyCodes codes = currentCopyKeyCodes(connection);
    const XcbReply<xcb_query_keymap_reply_t> held(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    if (held) {
        for (unsigned key = 8; key < 256; ++key) {
            if ((held->keys[key / 8] & (1U << (key % 8))) != 0) {
                fakeKey(connection, XCB_KEY_RELEASE, static_cast<xcb_keycode_t>(key));
            }
        }
    }
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    fakeKey(connection, XCB_KEY_PRESS, codes.control);
    fakeKey(connection, XCB_KEY_PRESS, codes.c);
    fakeKey(connection, XCB_KEY_RELEASE, codes.c);
    fakeKey(connection, XCB_KEY_RELEASE, codes.control);
    xcb_flush(connection);
}

} // namespace norik::app
