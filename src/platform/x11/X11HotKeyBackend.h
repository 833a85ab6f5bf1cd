// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include "core/shortcuts/HotKeyBackend.h"
#include "core/shortcuts/KeyboardLayout.h"

struct xkb_context;

namespace norik::platform::x11 {

// System-wide hot keys on an X server: passive key grabs on the root window. The backend borrows a
// connection (the application's own, so that its event loop reads the grabbed keys) and never reads from
// it: the owner of the event loop passes every event to handleEvent().
//
// A hot key is grabbed by its physical key code (the Linux key code of the Carbon key + 8, independent of
// the layout) for each combination of Caps Lock, Num Lock and Scroll Lock, so that it fires whatever lock
// is on. After a keyboard mapping change the grabs are renewed, since the locks may have moved to other
// modifiers. Keyboard auto-repeat is made detectable (XKB per-client flag), so a held hot key gives one
// key-down and one key-up.
class X11HotKeyBackend final : public core::shortcuts::HotKeyBackend {
public:
    [[nodiscard]] static std::expected<std::unique_ptr<X11HotKeyBackend>, std::string>
    create(xcb_connection_t* connection, int screenNumber);
    X11HotKeyBackend(const X11HotKeyBackend&) = delete;
    X11HotKeyBackend& operator=(const X11HotKeyBackend&) = delete;
    ~X11HotKeyBackend() override;

    void setEventHandler(EventHandler handler) override;
    // Fails with the X error code (BadAccess, 10, when another client holds the combination) and with the
    // module's statuses for a key without an X11 key code or a function-key modifier.
    [[nodiscard]] std::expected<void, core::shortcuts::HotKeyStatus>
    registerHotKey(std::uint32_t id, const core::shortcuts::HotKeyChord& chord) override;
    void unregisterHotKey(std::uint32_t id) override;
    // Told of a hot key whose combination another client took while the keyboard changed.
    void setLossHandler(LossHandler handler) override;

    // Reads one event of the connection: hot-key presses and releases, keyboard mapping changes. True when
    // the event was one of this backend's.
    bool handleEvent(const xcb_generic_event_t* event);

    // The server's current keyboard layout, for the characters shown in descriptions.
    [[nodiscard]] const core::shortcuts::KeyboardLayout& layout() const { return *m_layout; }

private:
    struct ModifierMasks {
        std::uint16_t alt = XCB_MOD_MASK_1;
        std::uint16_t super = XCB_MOD_MASK_4;
        std::uint16_t numLock = 0;
        std::uint16_t scrollLock = 0;
    };
    struct Grab {
        core::shortcuts::HotKeyChord chord;
        xcb_keycode_t keyCode = 0;
        std::uint16_t modifiers = 0;
        // The modifier masks grabbed: `modifiers` with every combination of the locks.
        std::vector<std::uint16_t> masks;
        bool pressed = false;
    };
    struct ContextUnref {
        void operator()(xkb_context* context) const;
    };

    X11HotKeyBackend(xcb_connection_t* connection, xcb_window_t root, std::uint8_t xkbEventBase, std::int32_t deviceId);

    std::expected<void, std::string> loadKeyboard();
    [[nodiscard]] std::vector<std::uint16_t> masksFor(std::uint16_t modifiers) const;
    std::expected<void, core::shortcuts::HotKeyStatus> grab(xcb_keycode_t keyCode,
                                                            const std::vector<std::uint16_t>& masks);
    void ungrab(xcb_keycode_t keyCode, const std::vector<std::uint16_t>& masks);
    [[nodiscard]] std::uint16_t maskFor(const core::shortcuts::HotKeyModifiers& modifiers) const;
    void renewGrabs();
    void handleKey(const xcb_key_press_event_t& event, bool press);

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    std::uint8_t m_xkbEventBase;
    std::int32_t m_deviceId;
    std::unique_ptr<xkb_context, ContextUnref> m_context;
    std::optional<core::shortcuts::KeyboardLayout> m_layout;
    ModifierMasks m_masks;
    std::map<std::uint32_t, Grab> m_grabs;
    EventHandler m_handler;
    LossHandler m_lossHandler;
};

} // namespace norik::platform::x11
