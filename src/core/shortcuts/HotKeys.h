// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "core/shortcuts/HotKeyBackend.h"
#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

// Turns shortcuts into system-wide hot keys of a backend and routes their presses and releases back.
// Each registration gets a fresh id that is never reused; while the hot keys are disabled or a menu of the
// application is open, the registrations are suspended (released at the backend) and come back under
// their old ids. Main thread only.
class HotKeys {
public:
    using Callback = std::function<void(const Shortcut&)>;
    using FailureHandler = std::function<void(const Shortcut&)>;

    explicit HotKeys(HotKeyBackend& backend);
    HotKeys(const HotKeys&) = delete;
    HotKeys& operator=(const HotKeys&) = delete;
    ~HotKeys();

    // A refused registration is told to the failure handler and leaves no hot key.
    void registerShortcut(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp);
    // Removes every hot key with this shortcut.
    void unregisterShortcut(const Shortcut& shortcut);
    // Told of every shortcut that could not be registered, re-registered, or that the backend dropped.
    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }
    // Whether a hot key with this shortcut lives, held or suspended.
    [[nodiscard]] bool holds(const Shortcut& shortcut) const;

    [[nodiscard]] bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    void setMenuOpen(bool open);

    // While a menu is open: the key events that the menu sees, matched against the hot keys. True when one
    // matched and ran, so that the caller swallows the event.
    bool handleMenuKey(const Shortcut& pressed, EventType type);

private:
    struct HotKey {
        Shortcut shortcut;
        Callback onKeyDown;
        Callback onKeyUp;
        bool registered = false;
    };

    [[nodiscard]] bool isActive() const { return m_enabled && !m_menuOpen; }
    bool tryRegister(std::int64_t id, const Shortcut& shortcut);
    void update();
    void dispatch(std::uint32_t id, EventType type);
    void lost(std::uint32_t id);
    void failed(const Shortcut& shortcut) const;
    static void run(const HotKey& hotKey, EventType type);

    HotKeyBackend& m_backend;
    FailureHandler m_onFailure;
    std::map<std::int64_t, HotKey> m_hotKeys;
    std::int64_t m_lastId = 0;
    bool m_enabled = true;
    bool m_menuOpen = false;
};

} // namespace norik::core::shortcuts
