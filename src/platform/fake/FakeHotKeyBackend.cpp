// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fake/FakeHotKeyBackend.h"

#include <algorithm>
#include <utility>

namespace norik::platform {

using core::shortcuts::EventType;
using core::shortcuts::HotKeyChord;
using core::shortcuts::HotKeyStatus;

void FakeHotKeyBackend::setEventHandler(EventHandler handler) {
    m_handler = std::move(handler);
}

std::expected<void, HotKeyStatus> FakeHotKeyBackend::registerHotKey(std::uint32_t id, const HotKeyChord& chord) {
    const auto refused = std::ranges::find(m_refused, chord, &std::pair<HotKeyChord, HotKeyStatus>::first);
    if (refused != m_refused.end()) {
        return std::unexpected(refused->second);
    }
    // Like a real platform, one chord can be held only once.
    if (idOf(chord)) {
        return std::unexpected(HotKeyStatus{-9878});
    }
    m_registered.insert_or_assign(id, chord);
    return {};
}

void FakeHotKeyBackend::unregisterHotKey(std::uint32_t id) {
    m_registered.erase(id);
}

void FakeHotKeyBackend::setLossHandler(LossHandler handler) {
    m_lossHandler = std::move(handler);
}

bool FakeHotKeyBackend::lose(const HotKeyChord& chord) {
    const auto id = idOf(chord);
    if (!id) {
        return false;
    }
    m_registered.erase(*id);
    if (m_lossHandler) {
        m_lossHandler(*id);
    }
    return true;
}

void FakeHotKeyBackend::refuse(const HotKeyChord& chord, HotKeyStatus status) {
    m_refused.emplace_back(chord, status);
}

void FakeHotKeyBackend::accept(const HotKeyChord& chord) {
    std::erase_if(m_refused, [&](const auto& entry) { return entry.first == chord; });
}

std::optional<std::uint32_t> FakeHotKeyBackend::idOf(const HotKeyChord& chord) const {
    for (const auto& [id, registered] : m_registered) {
        if (registered == chord) {
            return id;
        }
    }
    return std::nullopt;
}

std::vector<HotKeyChord> FakeHotKeyBackend::registered() const {
    std::vector<HotKeyChord> chords;
    for (const auto& [id, chord] : m_registered) {
        chords.push_back(chord);
    }
    return chords;
}

bool FakeHotKeyBackend::deliver(const HotKeyChord& chord, EventType type) {
    const auto id = idOf(chord);
    if (!id || !m_handler) {
        return false;
    }
    m_handler(*id, type);
    return true;
}

bool FakeHotKeyBackend::press(const HotKeyChord& chord) {
    return deliver(chord, EventType::keyDown);
}

bool FakeHotKeyBackend::release(const HotKeyChord& chord) {
    return deliver(chord, EventType::keyUp);
}

} // namespace norik::platform
