// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Registry.h"

#include <string>
#include <utility>

#include <cassert>

namespace norik::core::shortcuts {

EventSubscription::EventSubscription(EventSubscription&& other) noexcept
    : m_registry(std::exchange(other.m_registry, nullptr)), m_name(std::move(other.m_name)), m_id(other.m_id) {}

EventSubscription& EventSubscription::operator=(EventSubscription&& other) noexcept {
    if (this != &other) {
        EventSubscription released(std::move(*this));
        m_registry = std::exchange(other.m_registry, nullptr);
        m_name = std::move(other.m_name);
        m_id = other.m_id;
    }
    return *this;
}

EventSubscription::~EventSubscription() {
    if (m_registry != nullptr) {
        m_registry->endStream(m_name, m_id);
    }
}

Registry::Registry(SettingsStore& store, HotKeyBackend& backend) : m_store(store), m_hotKeys(backend) {
    m_hotKeys.setFailureHandler([this](const Shortcut& shortcut) { registrationFailed(shortcut); });
}

Registry::~Registry() {
    assertMainThread();
}

void Registry::assertMainThread() const {
    assert(std::this_thread::get_id() == m_thread && "the shortcut registry is used on its own thread only");
}

std::string Registry::storageKey(const Name& name) {
    return std::string(storageKeyPrefix) + name.rawValue;
}

void Registry::postChange(const Name& name) {
    m_notifications.post(Notification{std::string(shortcutByNameDidChange), {{"name", name}}});
}

void Registry::registrationFailed(const Shortcut& shortcut) {
    for (const auto& [key, value] : m_store.all()) {
        if (!key.starts_with(storageKeyPrefix)) {
            continue;
        }
        const Name name(key.substr(storageKeyPrefix.size()));
        if (getShortcut(name) == shortcut) {
            m_notifications.post(Notification{std::string(hotKeyRegistrationDidFail), {{"name", name}}});
        }
    }
}

void Registry::declare(const Name& name) {
    assertMainThread();
    if (name.defaultShortcut && !m_store.value(storageKey(name))) {
        store(*name.defaultShortcut, name);
    }
}

std::optional<Shortcut> Registry::getShortcut(const Name& name) const {
    assertMainThread();
    const std::optional<std::string> text = m_store.string(storageKey(name));
    return text ? Shortcut::fromJson(*text) : std::nullopt;
}

void Registry::ensureRegistered(const Shortcut& shortcut) {
    if (m_registeredShortcuts.insert(shortcut).second) {
        m_hotKeys.registerShortcut(
            shortcut, [this](const Shortcut& pressed) { handle(pressed, EventType::keyDown); },
            [this](const Shortcut& released) { handle(released, EventType::keyUp); });
    }
}

void Registry::unregister(const Shortcut& shortcut) {
    m_hotKeys.unregisterShortcut(shortcut);
    m_registeredShortcuts.erase(shortcut);
}

// Storage failures are not reported: the stored state simply stays as it was and the next read shows it. The
// choice is stored before it is registered, so that a refused registration is reported under its name.
void Registry::store(const Shortcut& shortcut, const Name& name) {
    if (const auto old = getShortcut(name)) {
        unregister(*old);
    }
    static_cast<void>(m_store.set(storageKey(name), shortcut.toJson()));
    ensureRegistered(shortcut);
    postChange(name);
}

void Registry::setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    assertMainThread();
    if (shortcut) {
        store(*shortcut, name);
        return;
    }
    const auto old = getShortcut(name);
    if (!old) {
        return;
    }
    if (name.defaultShortcut) {
        static_cast<void>(m_store.set(storageKey(name), false));
    } else {
        static_cast<void>(m_store.remove(storageKey(name)));
    }
    unregister(*old);
    postChange(name);
}

void Registry::reset(const std::vector<Name>& names) {
    for (const Name& name : names) {
        setShortcut(name.defaultShortcut, name);
    }
}

void Registry::resetAll() {
    assertMainThread();
    std::vector<Name> names;
    for (const auto& [key, value] : m_store.all()) {
        if (key.starts_with(storageKeyPrefix)) {
            names.emplace_back(key.substr(storageKeyPrefix.size()));
        }
    }
    reset(names);
}

void Registry::reloadFromStore() {
    assertMainThread();
    std::set<Name> users;
    for (const auto& [key, value] : m_store.all()) {
        if (key.starts_with(storageKeyPrefix)) {
            users.emplace(key.substr(storageKeyPrefix.size()));
        }
    }
    const auto collect = [&](const auto& map) {
        for (const auto& [name, entries] : map) {
            users.insert(name);
        }
    };
    collect(m_keyDownHandlers);
    collect(m_keyUpHandlers);
    collect(m_streamKeyDownHandlers);
    collect(m_streamKeyUpHandlers);
    std::set<Shortcut> wanted;
    for (const Name& name : users) {
        if (const auto shortcut = getShortcut(name)) {
            wanted.insert(*shortcut);
        }
    }
    bool changed = false;
    for (const Shortcut& shortcut : std::set<Shortcut>(m_registeredShortcuts)) {
        if (!wanted.contains(shortcut)) {
            unregister(shortcut);
            changed = true;
        }
    }
    for (const Shortcut& shortcut : wanted) {
        if (!m_registeredShortcuts.contains(shortcut)) {
            ensureRegistered(shortcut);
            changed = true;
        }
    }
    if (changed) {
        for (const Name& name : users) {
            postChange(name);
        }
    }
}

void Registry::enable(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (const auto shortcut = getShortcut(name)) {
            ensureRegistered(*shortcut);
        }
    }
}

void Registry::disable(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (const auto shortcut = getShortcut(name)) {
            unregister(*shortcut);
        }
    }
}

void Registry::addAction(std::map<Name, std::vector<Action>>& handlers, const Name& name, Action action) {
    handlers[name].push_back(std::move(action));
    if (const auto shortcut = getShortcut(name)) {
        ensureRegistered(*shortcut);
    }
}

void Registry::onKeyDown(const Name& name, Action action) {
    assertMainThread();
    addAction(m_keyDownHandlers, name, std::move(action));
}

void Registry::onKeyUp(const Name& name, Action action) {
    assertMainThread();
    addAction(m_keyUpHandlers, name, std::move(action));
}

bool Registry::isUsedByStream(const Shortcut& shortcut) const {
    const auto anyIn = [&](const Streams& streams) {
        for (const auto& [name, callbacks] : streams) {
            if (getShortcut(name) == shortcut) {
                return true;
            }
        }
        return false;
    };
    return anyIn(m_streamKeyDownHandlers) || anyIn(m_streamKeyUpHandlers);
}

void Registry::removeHandler(const Name& name) {
    assertMainThread();
    m_keyDownHandlers.erase(name);
    m_keyUpHandlers.erase(name);
    // Only streams keep a shortcut alive here: other names' actions are deliberately not consulted.
    if (const auto shortcut = getShortcut(name); shortcut && !isUsedByStream(*shortcut)) {
        unregister(*shortcut);
    }
}

void Registry::removeAllHandlers() {
    assertMainThread();
    std::set<Shortcut> shortcuts;
    const auto collect = [&](const auto& map) {
        for (const auto& [name, entries] : map) {
            if (const auto shortcut = getShortcut(name)) {
                shortcuts.insert(*shortcut);
            }
        }
    };
    collect(m_keyDownHandlers);
    collect(m_keyUpHandlers);
    collect(m_streamKeyDownHandlers);
    collect(m_streamKeyUpHandlers);
    for (const Shortcut& shortcut : shortcuts) {
        unregister(shortcut);
    }
    m_keyDownHandlers.clear();
    m_keyUpHandlers.clear();
}

EventSubscription Registry::events(const Name& name, std::function<void(EventType)> onEvent) {
    assertMainThread();
    const std::uint64_t id = ++m_lastStreamId;
    m_streamKeyDownHandlers[name].emplace(id, [onEvent] { onEvent(EventType::keyDown); });
    m_streamKeyUpHandlers[name].emplace(id, [onEvent] { onEvent(EventType::keyUp); });
    if (const auto shortcut = getShortcut(name)) {
        ensureRegistered(*shortcut);
    }
    return EventSubscription(this, name, id);
}

EventSubscription Registry::events(EventType type, const Name& name, std::function<void()> onEvent) {
    return events(name, [type, onEvent = std::move(onEvent)](EventType delivered) {
        if (delivered == type) {
            onEvent();
        }
    });
}

void Registry::endStream(const Name& name, std::uint64_t id) {
    assertMainThread();
    // The name's entries stay, possibly empty, so the name still counts as a user of its shortcut and the
    // shortcut stays registered.
    m_streamKeyDownHandlers[name].erase(id);
    m_streamKeyUpHandlers[name].erase(id);
}

void Registry::handle(const Shortcut& shortcut, EventType type) {
    if (m_paused) {
        return;
    }
    const auto& handlers = type == EventType::keyDown ? m_keyDownHandlers : m_keyUpHandlers;
    std::vector<Action> actions;
    for (const auto& [name, list] : handlers) {
        if (getShortcut(name) == shortcut) {
            actions.insert(actions.end(), list.begin(), list.end());
        }
    }
    for (const Action& action : actions) {
        action();
    }
    // Streams ended by an action (or by an earlier stream callback) are skipped.
    auto& streams = type == EventType::keyDown ? m_streamKeyDownHandlers : m_streamKeyUpHandlers;
    std::vector<std::pair<Name, std::uint64_t>> targets;
    for (const auto& [name, callbacks] : streams) {
        if (getShortcut(name) == shortcut) {
            for (const auto& [id, callback] : callbacks) {
                targets.emplace_back(name, id);
            }
        }
    }
    for (const auto& [name, id] : targets) {
        const auto& callbacks = streams[name];
        if (const auto found = callbacks.find(id); found != callbacks.end()) {
            const Action callback = found->second;
            callback();
        }
    }
}

bool Registry::isEnabled() const {
    assertMainThread();
    return m_hotKeys.isEnabled();
}

void Registry::setEnabled(bool enabled) {
    assertMainThread();
    m_hotKeys.setEnabled(enabled);
}

bool Registry::isEnabled(const Name& name) const {
    assertMainThread();
    if (!m_hotKeys.isEnabled()) {
        return false;
    }
    const auto shortcut = getShortcut(name);
    return shortcut && m_registeredShortcuts.contains(*shortcut);
}

bool Registry::isRegistered(const Name& name) const {
    assertMainThread();
    const auto shortcut = getShortcut(name);
    return shortcut && m_hotKeys.holds(*shortcut);
}

bool Registry::isPaused() const {
    assertMainThread();
    return m_paused;
}

void Registry::setPaused(bool paused) {
    assertMainThread();
    m_paused = paused;
}

void Registry::setMenuOpen(bool open) {
    assertMainThread();
    m_hotKeys.setMenuOpen(open);
}

bool Registry::handleMenuKey(const Shortcut& pressed, EventType type) {
    assertMainThread();
    return m_hotKeys.handleMenuKey(pressed, type);
}

} // namespace norik::core::shortcuts
