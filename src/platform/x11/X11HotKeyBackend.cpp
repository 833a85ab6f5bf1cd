// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11HotKeyBackend.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include <iterator>

// xcb/xkb.h names a structure member "explicit", which is a keyword in C++.
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "core/shortcuts/KeyTable.h"
#include "platform/x11/XcbHandles.h"

namespace norik::platform::x11 {

namespace {

using core::shortcuts::EventType;
using core::shortcuts::HotKeyChord;
using core::shortcuts::HotKeyStatus;

constexpr std::uint32_t kMaxX11KeyCode = 255;

constexpr xcb_keysym_t kNumLock = 0xff7f;
constexpr xcb_keysym_t kScrollLock = 0xff14;
constexpr std::array<xcb_keysym_t, 2> kAltKeys{0xffe9, 0xffea};   // Alt_L, Alt_R
constexpr std::array<xcb_keysym_t, 2> kSuperKeys{0xffeb, 0xffec}; // Super_L, Super_R

struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// The modifier mask (Mod1…Mod5 and the others) whose keys include one of `keysyms`; 0 when none does.
std::uint16_t modifierHolding(std::span<const xcb_keycode_t> modifierKeys, std::uint8_t keysPerModifier,
                              const xcb_get_keyboard_mapping_reply_t& mapping, xcb_keycode_t minKeyCode,
                              std::span<const xcb_keysym_t> keysyms) {
    const std::span<const xcb_keysym_t> table(xcb_get_keyboard_mapping_keysyms(&mapping),
                                              xcb_get_keyboard_mapping_keysyms_length(&mapping));
    const std::size_t perKey = mapping.keysyms_per_keycode;
    for (std::size_t modifier = 0; modifier < 8; ++modifier) {
        for (std::size_t slot = 0; slot < keysPerModifier; ++slot) {
            const xcb_keycode_t keyCode = modifierKeys[modifier * keysPerModifier + slot];
            if (keyCode < minKeyCode || (keyCode - minKeyCode + 1) * perKey > table.size()) {
                continue;
            }
            const auto symbols = table.subspan((keyCode - minKeyCode) * perKey, perKey);
            if (std::ranges::find_first_of(symbols, keysyms) != symbols.end()) {
                return static_cast<std::uint16_t>(1U << modifier);
            }
        }
    }
    return 0;
}

} // namespace

void X11HotKeyBackend::ContextUnref::operator()(xkb_context* context) const {
    xkb_context_unref(context);
}

std::expected<std::unique_ptr<X11HotKeyBackend>, std::string> X11HotKeyBackend::create(xcb_connection_t* connection,
                                                                                       int screenNumber) {
    const xcb_window_t root = rootWindow(connection, screenNumber);
    if (root == XCB_NONE) {
        return std::unexpected("the X server has no screen " + std::to_string(screenNumber));
    }
    std::uint8_t eventBase = 0;
    if (xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr) == 0) {
        return std::unexpected("the X server lacks the XKB extension");
    }
    const std::int32_t deviceId = xkb_x11_get_core_keyboard_device_id(connection);
    if (deviceId < 0) {
        return std::unexpected("the X server has no core keyboard");
    }

    const auto flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const XcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        connection, xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
    if (!flags || (flags->value & flag) == 0) {
        return std::unexpected("the X server cannot make keyboard auto-repeat detectable");
    }

    // A new keymap (setxkbmap) or a changed one, and a switch of the active layout group.
    const auto events =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const auto mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
                          XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_STATE;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
    const XcbReply<xcb_generic_error_t> selectError(xcb_request_check(
        connection, xcb_xkb_select_events_aux_checked(connection, static_cast<xcb_xkb_device_spec_t>(deviceId), events,
                                                      0, 0, mapParts, mapParts, &details)));
    if (selectError) {
        return std::unexpected("cannot watch keyboard changes (X error " + std::to_string(selectError->error_code) +
                               ")");
    }

    std::unique_ptr<X11HotKeyBackend> backend(new X11HotKeyBackend(connection, root, eventBase, deviceId));
    if (auto loaded = backend->loadKeyboard(); !loaded) {
        return std::unexpected(loaded.error());
    }
    return backend;
}

X11HotKeyBackend::X11HotKeyBackend(xcb_connection_t* connection, xcb_window_t root, std::uint8_t xkbEventBase,
                                   std::int32_t deviceId)
    : m_connection(connection), m_root(root), m_xkbEventBase(xkbEventBase), m_deviceId(deviceId),
      m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

X11HotKeyBackend::~X11HotKeyBackend() {
    for (const auto& [id, grabbed] : m_grabs) {
        ungrab(grabbed.keyCode, grabbed.masks);
    }
    xcb_flush(m_connection);
}

std::expected<void, std::string> X11HotKeyBackend::loadKeyboard() {
    if (!m_context) {
        return std::unexpected("cannot create an xkb context");
    }
    const std::unique_ptr<xkb_keymap, KeymapUnref> keymap(
        xkb_x11_keymap_new_from_device(m_context.get(), m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::unexpected("cannot read the keymap of the X server");
    }
    const std::unique_ptr<xkb_state, StateUnref> state(
        xkb_x11_state_new_from_device(keymap.get(), m_connection, m_deviceId));
    const xkb_layout_index_t group = state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    m_layout.emplace(keymap.get(), group);

    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    const XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    const XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, count), nullptr));
    if (!modifiers || !mapping) {
        return std::unexpected("cannot read the modifier mapping of the X server");
    }
    const std::span<const xcb_keycode_t> modifierKeys(xcb_get_modifier_mapping_keycodes(modifiers.get()),
                                                      xcb_get_modifier_mapping_keycodes_length(modifiers.get()));
    const auto holding = [&](std::span<const xcb_keysym_t> keysyms) {
        return modifierHolding(modifierKeys, modifiers->keycodes_per_modifier, *mapping, setup->min_keycode, keysyms);
    };
    ModifierMasks masks;
    masks.numLock = holding(std::span(&kNumLock, 1));
    masks.scrollLock = holding(std::span(&kScrollLock, 1));
    if (const auto alt = holding(kAltKeys); alt != 0) {
        masks.alt = alt;
    }
    if (const auto super = holding(kSuperKeys); super != 0) {
        masks.super = super;
    }
    m_masks = masks;
    return {};
}

void X11HotKeyBackend::setEventHandler(EventHandler handler) {
    m_handler = std::move(handler);
}

void X11HotKeyBackend::setLossHandler(LossHandler handler) {
    m_lossHandler = std::move(handler);
}

std::uint16_t X11HotKeyBackend::maskFor(const core::shortcuts::HotKeyModifiers& modifiers) const {
    std::uint16_t mask = 0;
    mask |= modifiers.ctrl ? XCB_MOD_MASK_CONTROL : 0;
    mask |= modifiers.shift ? XCB_MOD_MASK_SHIFT : 0;
    mask |= modifiers.alt ? m_masks.alt : 0;
    mask |= modifiers.super ? m_masks.super : 0;
    return mask;
}

std::vector<std::uint16_t> X11HotKeyBackend::masksFor(std::uint16_t modifiers) const {
    std::vector<std::uint16_t> masks{modifiers};
    for (const std::uint16_t lock : {std::uint16_t{XCB_MOD_MASK_LOCK}, m_masks.numLock, m_masks.scrollLock}) {
        if (lock == 0 || (modifiers & lock) != 0 || std::ranges::find(masks, modifiers | lock) != masks.end()) {
            continue;
        }
        const std::size_t existing = masks.size();
        for (std::size_t index = 0; index < existing; ++index) {
            masks.push_back(static_cast<std::uint16_t>(masks[index] | lock));
        }
    }
    return masks;
}

std::expected<void, HotKeyStatus> X11HotKeyBackend::grab(xcb_keycode_t keyCode,
                                                         const std::vector<std::uint16_t>& masks) {
    std::vector<xcb_void_cookie_t> cookies;
    for (const std::uint16_t mask : masks) {
        cookies.push_back(
            xcb_grab_key_checked(m_connection, 1, m_root, mask, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    std::optional<HotKeyStatus> failure;
    std::vector<std::uint16_t> grabbed;
    for (std::size_t index = 0; index < cookies.size(); ++index) {
        const XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[index]));
        if (error) {
            failure = failure.value_or(error->error_code);
        } else {
            grabbed.push_back(masks[index]);
        }
    }
    if (!failure) {
        return {};
    }
    // Half a hot key would fire only with some locks on; another client holds the rest.
    ungrab(keyCode, grabbed);
    xcb_flush(m_connection);
    return std::unexpected(*failure);
}

void X11HotKeyBackend::ungrab(xcb_keycode_t keyCode, const std::vector<std::uint16_t>& masks) {
    for (const std::uint16_t mask : masks) {
        xcb_ungrab_key(m_connection, keyCode, m_root, mask);
    }
}

std::expected<void, HotKeyStatus> X11HotKeyBackend::registerHotKey(std::uint32_t id, const HotKeyChord& chord) {
    if (chord.modifiers.fn) {
        return std::unexpected(core::shortcuts::hotKeyStatus::unsupportedModifier);
    }
    const auto code = core::shortcuts::xkbKeyCode(chord.key);
    if (!code || *code > kMaxX11KeyCode) {
        return std::unexpected(core::shortcuts::hotKeyStatus::unknownKey);
    }
    unregisterHotKey(id);
    const auto keyCode = static_cast<xcb_keycode_t>(*code);
    const std::uint16_t modifiers = maskFor(chord.modifiers);
    std::vector<std::uint16_t> masks = masksFor(modifiers);
    if (auto grabbed = grab(keyCode, masks); !grabbed) {
        return grabbed;
    }
    m_grabs.insert_or_assign(id, Grab{chord, keyCode, modifiers, std::move(masks), false});
    return {};
}

void X11HotKeyBackend::unregisterHotKey(std::uint32_t id) {
    const auto found = m_grabs.find(id);
    if (found == m_grabs.end()) {
        return;
    }
    ungrab(found->second.keyCode, found->second.masks);
    xcb_flush(m_connection);
    m_grabs.erase(found);
}

// A new keymap also arrives whenever input switches to another keyboard device, usually with the same
// modifier masks. Only the masks that changed are grabbed and released, new ones first, so that no press
// falls into a gap between releasing and taking a grab.
void X11HotKeyBackend::renewGrabs() {
    // A keyboard that cannot be read keeps the modifier masks read before.
    static_cast<void>(loadKeyboard());
    std::vector<std::uint32_t> lost;
    for (auto entry = m_grabs.begin(); entry != m_grabs.end();) {
        Grab& grabbed = entry->second;
        grabbed.modifiers = maskFor(grabbed.chord.modifiers);
        std::vector<std::uint16_t> masks = masksFor(grabbed.modifiers);
        std::vector<std::uint16_t> added;
        std::ranges::copy_if(masks, std::back_inserter(added), [&](std::uint16_t mask) {
            return std::ranges::find(grabbed.masks, mask) == grabbed.masks.end();
        });
        std::vector<std::uint16_t> removed;
        std::ranges::copy_if(grabbed.masks, std::back_inserter(removed),
                             [&](std::uint16_t mask) { return std::ranges::find(masks, mask) == masks.end(); });
        // A hot key whose combination another client took meanwhile stops firing, and its owner is told.
        if (added.empty() || grab(grabbed.keyCode, added)) {
            ungrab(grabbed.keyCode, removed);
            grabbed.masks = std::move(masks);
            ++entry;
        } else {
            ungrab(grabbed.keyCode, grabbed.masks);
            lost.push_back(entry->first);
            entry = m_grabs.erase(entry);
        }
    }
    xcb_flush(m_connection);
    for (const std::uint32_t id : lost) {
        if (m_lossHandler) {
            m_lossHandler(id);
        }
    }
}

void X11HotKeyBackend::handleKey(const xcb_key_press_event_t& event, bool press) {
    const std::uint16_t relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | m_masks.alt | m_masks.super;
    for (auto& [id, grabbed] : m_grabs) {
        if (grabbed.keyCode != event.detail) {
            continue;
        }
        // A release matches by key alone: the modifiers may already be up.
        if (press && (event.state & relevant) == grabbed.modifiers && !grabbed.pressed) {
            grabbed.pressed = true;
            if (m_handler) {
                m_handler(id, EventType::keyDown);
            }
            return;
        }
        if (!press && grabbed.pressed) {
            grabbed.pressed = false;
            if (m_handler) {
                m_handler(id, EventType::keyUp);
            }
            return;
        }
    }
}

bool X11HotKeyBackend::handleEvent(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        // While one of this client's windows has the focus, the grab reports its keys to that window rather
        // than to the root: the hot key pressed over Norik's own windows, and the release of a hot key whose
        // panel took the focus before the user let go. Without that release the next press would not count.
        const auto& key = *reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (key.root != m_root) {
            return false;
        }
        handleKey(key, type == XCB_KEY_PRESS);
        return true;
    }
    case XCB_MAPPING_NOTIFY: {
        const auto& mapping = *reinterpret_cast<const xcb_mapping_notify_event_t*>(event);
        if (mapping.request != XCB_MAPPING_POINTER) {
            renewGrabs();
        }
        return true;
    }
    default:
        break;
    }
    if (type != m_xkbEventBase) {
        return false;
    }
    // Every XKB event starts with the same header; the second byte is its kind.
    const auto& xkb = *reinterpret_cast<const xcb_xkb_new_keyboard_notify_event_t*>(event);
    if (xkb.deviceID != m_deviceId) {
        return false;
    }
    switch (xkb.xkbType) {
    case XCB_XKB_NEW_KEYBOARD_NOTIFY:
    case XCB_XKB_MAP_NOTIFY:
        renewGrabs();
        return true;
    case XCB_XKB_STATE_NOTIFY:
        // The active layout group changed; a keyboard that cannot be read keeps the layout read before.
        static_cast<void>(loadKeyboard());
        return true;
    default:
        return false;
    }
}

} // namespace norik::platform::x11
