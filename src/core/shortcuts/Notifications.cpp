// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Notifications.h"

#include <utility>
#include <vector>

namespace norik::core::shortcuts {

struct NotificationCenter::Observer::State {
    struct Entry {
        std::string name;
        Handler handler;
    };
    std::map<std::uint64_t, Entry> entries;
    std::uint64_t lastId = 0;
};

NotificationCenter::Observer::Observer(Observer&& other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0)) {}

NotificationCenter::Observer& NotificationCenter::Observer::operator=(Observer&& other) noexcept {
    if (this != &other) {
        Observer released(std::move(*this));
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

NotificationCenter::Observer::~Observer() {
    if (auto state = m_state.lock()) {
        state->entries.erase(m_id);
    }
}

NotificationCenter::NotificationCenter() : m_state(std::make_shared<Observer::State>()) {}

NotificationCenter::Observer NotificationCenter::addObserver(std::string_view name, Handler handler) {
    const std::uint64_t id = ++m_state->lastId;
    m_state->entries.emplace(id, Observer::State::Entry{std::string(name), std::move(handler)});
    return Observer(m_state, id);
}

void NotificationCenter::post(const Notification& notification) {
    // Handlers may add or remove observers; each one still registered when its turn comes runs.
    std::vector<std::uint64_t> ids;
    for (const auto& [id, entry] : m_state->entries) {
        if (entry.name == notification.name) {
            ids.push_back(id);
        }
    }
    for (const std::uint64_t id : ids) {
        const auto found = m_state->entries.find(id);
        if (found != m_state->entries.end()) {
            const Handler handler = found->second.handler;
            handler(notification);
        }
    }
}

} // namespace norik::core::shortcuts
