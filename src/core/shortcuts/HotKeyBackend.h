// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <functional>

#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

// Modifiers as a Linux desktop names them; Carbon's command is Ctrl, option Alt, control Super.
struct HotKeyModifiers {
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    bool super = false;
    // The Apple function key; a platform without it refuses such a hot key.
    bool fn = false;

    friend bool operator==(const HotKeyModifiers&, const HotKeyModifiers&) = default;
};

struct HotKeyChord {
    Key key;
    HotKeyModifiers modifiers;

    friend bool operator==(const HotKeyChord&, const HotKeyChord&) = default;
};

[[nodiscard]] HotKeyChord chordFor(const Shortcut& shortcut);

// A platform's status for a refused registration; never 0.
using HotKeyStatus = std::int64_t;

// Statuses of refusals that the platform did not report itself.
namespace hotKeyStatus {
// Key code or modifiers outside 32 bits, or no identifier left.
inline constexpr HotKeyStatus invalidShortcut = -50;
// The platform has no key code for the key.
inline constexpr HotKeyStatus unknownKey = -2;
// The shortcut needs a modifier that the platform lacks (the function key on X11).
inline constexpr HotKeyStatus unsupportedModifier = -3;
} // namespace hotKeyStatus

// System-wide hot keys of one platform. All calls and all events happen on the main thread.
class HotKeyBackend {
public:
    using EventHandler = std::function<void(std::uint32_t id, EventType type)>;
    using LossHandler = std::function<void(std::uint32_t id)>;

    HotKeyBackend() = default;
    HotKeyBackend(const HotKeyBackend&) = delete;
    HotKeyBackend& operator=(const HotKeyBackend&) = delete;
    virtual ~HotKeyBackend() = default;

    // Called with the id of a registered hot key on its press and on its release, once per physical press.
    virtual void setEventHandler(EventHandler handler) = 0;
    // On failure nothing stays registered under the id.
    [[nodiscard]] virtual std::expected<void, HotKeyStatus> registerHotKey(std::uint32_t id,
                                                                           const HotKeyChord& chord) = 0;
    // An unknown id is ignored.
    virtual void unregisterHotKey(std::uint32_t id) = 0;
    // Called with the id of a hot key that the platform dropped by itself, e.g. when another client took its
    // combination while the keyboard changed.
    virtual void setLossHandler(LossHandler handler) = 0;
};

} // namespace norik::core::shortcuts
