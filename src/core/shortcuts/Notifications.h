// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

// Posted with the entry "name" when a stored shortcut changes.
inline constexpr std::string_view shortcutByNameDidChange = "GlobalShortcuts_shortcutByNameDidChange";
// Posted with the entry "isActive" when a shortcut recorder starts or stops recording.
inline constexpr std::string_view recorderActiveStatusDidChange = "GlobalShortcuts_recorderActiveStatusDidChange";

// Posted with the entry "name" when the name's stored shortcut could not be registered with the system, or
// the system dropped its registration; the stored shortcut then does nothing until it is set again.
inline constexpr std::string_view hotKeyRegistrationDidFail = "GlobalShortcuts_hotKeyRegistrationDidFail";

using NotificationValue = std::variant<Name, bool>;

struct Notification {
    std::string name;
    std::map<std::string, NotificationValue, std::less<>> userInfo;
};

// An in-process list of observers by notification name. Main thread only; observers run in the order in
// which they were added, synchronously inside post().
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    // Observes while it lives; outliving the centre is harmless.
    class Observer {
    public:
        Observer() = default;
        Observer(Observer&& other) noexcept;
        Observer& operator=(Observer&& other) noexcept;
        ~Observer();

    private:
        friend class NotificationCenter;
        struct State;
        Observer(std::weak_ptr<State> state, std::uint64_t id) : m_state(std::move(state)), m_id(id) {}

        std::weak_ptr<State> m_state;
        std::uint64_t m_id = 0;
    };

    NotificationCenter();

    [[nodiscard]] Observer addObserver(std::string_view name, Handler handler);
    void post(const Notification& notification);

private:
    std::shared_ptr<Observer::State> m_state;
};

} // namespace norik::core::shortcuts
