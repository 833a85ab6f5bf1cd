// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include <concepts>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/HotKeyBackend.h"
#include "core/shortcuts/HotKeys.h"
#include "core/shortcuts/Notifications.h"
#include "core/shortcuts/Shortcut.h"

namespace norik::core::shortcuts {

inline constexpr std::string_view storageKeyPrefix = "GlobalShortcuts_";

class Registry;

// Delivers a name's key events while it lives; see Registry::events. Must not outlive its registry.
class EventSubscription {
public:
    EventSubscription() = default;
    EventSubscription(EventSubscription&& other) noexcept;
    EventSubscription& operator=(EventSubscription&& other) noexcept;
    ~EventSubscription();

private:
    friend class Registry;
    EventSubscription(Registry* registry, Name name, std::uint64_t id)
        : m_registry(registry), m_name(std::move(name)), m_id(id) {}

    Registry* m_registry = nullptr;
    Name m_name{""};
    std::uint64_t m_id = 0;
};

// Named global shortcuts: their stored choices, the actions attached to them and the hot keys that keep
// the system in step with the stored choices. One per process (the application's), or one per test over a
// settings file; a new registry over the same file is a restart. Main thread only (the thread that created it),
// asserted in debug builds. The store and the backend must outlive it.
class Registry {
public:
    using Action = std::function<void()>;

    // A shortcut that cannot be registered, or whose registration the system drops, is posted as
    // hotKeyRegistrationDidFail under every name that stores it; nothing is written anywhere else.
    Registry(SettingsStore& store, HotKeyBackend& backend);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry();

    // Writes the name's default when the store holds nothing at all under its key (a disabled marker
    // counts as something). The application declares each of its names once at start-up.
    void declare(const Name& name);

    // The stored shortcut; absent for no entry, the disabled marker, or anything that does not decode.
    [[nodiscard]] std::optional<Shortcut> getShortcut(const Name& name) const;
    // Clearing a name with a default stores the disabled marker so that the default does not return.
    void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);

    void reset(const std::vector<Name>& names);
    template <std::same_as<Name>... Names> void reset(const Names&... names) { reset(std::vector<Name>{names...}); }
    // Removes every stored shortcut; disabled markers stay.
    void resetAll();

    // Register or unregister the stored shortcuts without touching storage or actions.
    void enable(const std::vector<Name>& names);
    template <std::same_as<Name>... Names> void enable(const Names&... names) { enable(std::vector<Name>{names...}); }
    void disable(const std::vector<Name>& names);
    template <std::same_as<Name>... Names> void disable(const Names&... names) { disable(std::vector<Name>{names...}); }

    void onKeyDown(const Name& name, Action action);
    void onKeyUp(const Name& name, Action action);
    void removeHandler(const Name& name);
    void removeAllHandlers();

    // The name's key events, delivered to `onEvent` until the subscription is destroyed.
    [[nodiscard]] EventSubscription events(const Name& name, std::function<void(EventType)> onEvent);
    [[nodiscard]] EventSubscription events(EventType type, const Name& name, std::function<void()> onEvent);

    [[nodiscard]] bool isEnabled() const;
    // False suspends every hot key; true takes them again.
    void setEnabled(bool enabled);
    [[nodiscard]] bool isEnabled(const Name& name) const;
    // Whether the name's stored shortcut holds a system hot key (suspended while a menu is open or the hot keys
    // are disabled). False for a name without a shortcut and for one whose registration failed.
    [[nodiscard]] bool isRegistered(const Name& name) const;

    // Set by a shortcut recorder while it records: no action runs.
    [[nodiscard]] bool isPaused() const;
    void setPaused(bool paused);

    // Brings the registrations in line with the store after another process changed it: the hot keys of
    // shortcuts no longer stored are released and newly stored ones registered, and when anything changed,
    // every name with an action, a stream or a stored entry is posted as changed.
    void reloadFromStore();
    [[nodiscard]] const std::filesystem::path& storePath() const { return m_store.path(); }

    // While a menu of the application is open the hot keys are released and its key events come here.
    void setMenuOpen(bool open);
    bool handleMenuKey(const Shortcut& pressed, EventType type);

    [[nodiscard]] NotificationCenter& notifications() { return m_notifications; }

private:
    friend class EventSubscription;
    using Streams = std::map<Name, std::map<std::uint64_t, Action>>;

    void assertMainThread() const;
    [[nodiscard]] static std::string storageKey(const Name& name);
    void store(const Shortcut& shortcut, const Name& name);
    void ensureRegistered(const Shortcut& shortcut);
    void unregister(const Shortcut& shortcut);
    void addAction(std::map<Name, std::vector<Action>>& handlers, const Name& name, Action action);
    // Whether a name with an entry in the stream maps (an empty entry counts) stores the shortcut.
    [[nodiscard]] bool isUsedByStream(const Shortcut& shortcut) const;
    void handle(const Shortcut& shortcut, EventType type);
    void endStream(const Name& name, std::uint64_t id);
    void postChange(const Name& name);
    void registrationFailed(const Shortcut& shortcut);

    SettingsStore& m_store;
    NotificationCenter m_notifications;
    HotKeys m_hotKeys;
    std::map<Name, std::vector<Action>> m_keyDownHandlers;
    std::map<Name, std::vector<Action>> m_keyUpHandlers;
    Streams m_streamKeyDownHandlers;
    Streams m_streamKeyUpHandlers;
    std::uint64_t m_lastStreamId = 0;
    std::set<Shortcut> m_registeredShortcuts;
    bool m_paused = false;
    std::thread::id m_thread = std::this_thread::get_id();
};

} // namespace norik::core::shortcuts
