// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/shortcuts/HotKeyBackend.h"

namespace norik::platform {

// Hot keys held in memory, for tests of the layers above a backend: keys are pressed and released by
// calling press() and release(), and chords can be made to fail as if another program held them.
class FakeHotKeyBackend final : public core::shortcuts::HotKeyBackend {
public:
    void setEventHandler(EventHandler handler) override;
    [[nodiscard]] std::expected<void, core::shortcuts::HotKeyStatus>
    registerHotKey(std::uint32_t id, const core::shortcuts::HotKeyChord& chord) override;
    void unregisterHotKey(std::uint32_t id) override;
    void setLossHandler(LossHandler handler) override;

    // Registrations of this chord fail with `status` from now on.
    void refuse(const core::shortcuts::HotKeyChord& chord, core::shortcuts::HotKeyStatus status);
    void accept(const core::shortcuts::HotKeyChord& chord);
    // Drops the chord's hot key as a platform does when another program takes it; false when none is held.
    bool lose(const core::shortcuts::HotKeyChord& chord);

    // Deliver the event to the hot key registered for the chord; false when none is.
    bool press(const core::shortcuts::HotKeyChord& chord);
    bool release(const core::shortcuts::HotKeyChord& chord);

    [[nodiscard]] std::optional<std::uint32_t> idOf(const core::shortcuts::HotKeyChord& chord) const;
    [[nodiscard]] std::vector<core::shortcuts::HotKeyChord> registered() const;

private:
    bool deliver(const core::shortcuts::HotKeyChord& chord, core::shortcuts::EventType type);

    EventHandler m_handler;
    LossHandler m_lossHandler;
    std::map<std::uint32_t, core::shortcuts::HotKeyChord> m_registered;
    std::vector<std::pair<core::shortcuts::HotKeyChord, core::shortcuts::HotKeyStatus>> m_refused;
};

} // namespace norik::platform
