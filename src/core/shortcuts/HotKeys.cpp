// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/HotKeys.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include <iterator>

namespace norik::core::shortcuts {

namespace {

constexpr std::int64_t kMaxUnsigned32 = std::numeric_limits<std::uint32_t>::max();

bool fits32(std::int64_t value) {
    return value >= 0 && value <= kMaxUnsigned32;
}

} // namespace

HotKeyChord chordFor(const Shortcut& shortcut) {
    const ModifierFlags flags = shortcut.modifiers();
    return HotKeyChord{
        .key = shortcut.key(),
        .modifiers = {.ctrl = flags.contains(ModifierFlags::command),
                      .alt = flags.contains(ModifierFlags::option),
                      .shift = flags.contains(ModifierFlags::shift),
                      .super = flags.contains(ModifierFlags::control),
                      .fn = flags.contains(ModifierFlags::function)},
    };
}

HotKeys::HotKeys(HotKeyBackend& backend) : m_backend(backend) {
    m_backend.setEventHandler([this](std::uint32_t id, EventType type) { dispatch(id, type); });
    m_backend.setLossHandler([this](std::uint32_t id) { lost(id); });
}

HotKeys::~HotKeys() {
    m_backend.setEventHandler({});
    m_backend.setLossHandler({});
    for (const auto& [id, hotKey] : m_hotKeys) {
        if (hotKey.registered) {
            m_backend.unregisterHotKey(static_cast<std::uint32_t>(id));
        }
    }
}

bool HotKeys::tryRegister(std::int64_t id, const Shortcut& shortcut) {
    // A hand-edited store can hold values that the platform's 32-bit fields cannot carry.
    std::expected<void, HotKeyStatus> result = std::unexpected(hotKeyStatus::invalidShortcut);
    if (fits32(id) && fits32(shortcut.carbonKeyCode) && fits32(shortcut.carbonModifiers)) {
        result = m_backend.registerHotKey(static_cast<std::uint32_t>(id), chordFor(shortcut));
    }
    if (!result) {
        failed(shortcut);
    }
    return result.has_value();
}

void HotKeys::registerShortcut(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp) {
    const std::int64_t id = ++m_lastId;
    // Registering while suspended would hold a grab that cannot fire; it is taken when the mode switches back.
    if (isActive() && !tryRegister(id, shortcut)) {
        return;
    }
    m_hotKeys.emplace(id, HotKey{shortcut, std::move(onKeyDown), std::move(onKeyUp), isActive()});
}

void HotKeys::unregisterShortcut(const Shortcut& shortcut) {
    std::erase_if(m_hotKeys, [&](const auto& entry) {
        const auto& [id, hotKey] = entry;
        if (hotKey.shortcut != shortcut) {
            return false;
        }
        if (hotKey.registered) {
            m_backend.unregisterHotKey(static_cast<std::uint32_t>(id));
        }
        return true;
    });
}

bool HotKeys::holds(const Shortcut& shortcut) const {
    return std::ranges::any_of(m_hotKeys, [&](const auto& entry) { return entry.second.shortcut == shortcut; });
}

void HotKeys::failed(const Shortcut& shortcut) const {
    if (m_onFailure) {
        m_onFailure(shortcut);
    }
}

void HotKeys::lost(std::uint32_t id) {
    const auto found = m_hotKeys.find(id);
    if (found == m_hotKeys.end()) {
        return;
    }
    const Shortcut shortcut = found->second.shortcut;
    m_hotKeys.erase(found);
    failed(shortcut);
}

void HotKeys::setEnabled(bool enabled) {
    if (std::exchange(m_enabled, enabled) != enabled) {
        update();
    }
}

void HotKeys::setMenuOpen(bool open) {
    if (std::exchange(m_menuOpen, open) != open) {
        update();
    }
}

void HotKeys::update() {
    if (!isActive()) {
        for (auto& [id, hotKey] : m_hotKeys) {
            if (std::exchange(hotKey.registered, false)) {
                m_backend.unregisterHotKey(static_cast<std::uint32_t>(id));
            }
        }
        return;
    }
    for (auto entry = m_hotKeys.begin(); entry != m_hotKeys.end();) {
        auto& [id, hotKey] = *entry;
        if (!hotKey.registered) {
            hotKey.registered = tryRegister(id, hotKey.shortcut);
        }
        entry = hotKey.registered ? std::next(entry) : m_hotKeys.erase(entry);
    }
}

void HotKeys::run(const HotKey& hotKey, EventType type) {
    const Callback& callback = type == EventType::keyDown ? hotKey.onKeyDown : hotKey.onKeyUp;
    if (callback) {
        callback(hotKey.shortcut);
    }
}

void HotKeys::dispatch(std::uint32_t id, EventType type) {
    const auto found = m_hotKeys.find(id);
    if (found == m_hotKeys.end() || !isActive()) {
        return;
    }
    // The callback may unregister this very hot key.
    const HotKey hotKey = found->second;
    run(hotKey, type);
}

bool HotKeys::handleMenuKey(const Shortcut& pressed, EventType type) {
    if (!m_enabled || !m_menuOpen) {
        return false;
    }
    for (const auto& [id, hotKey] : m_hotKeys) {
        if (hotKey.shortcut == pressed) {
            const HotKey copy = hotKey;
            run(copy, type);
            return true;
        }
    }
    return false;
}

} // namespace norik::core::shortcuts
