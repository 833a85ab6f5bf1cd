// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <gio/gio.h>

#include "platform/desktop/GioHandles.h"

namespace norik::platform::desktop {

struct GnomeShortcutEntry {
    std::string name;
    std::string command;
    // A GNOME accelerator: "<Control><Alt>space".
    std::string binding;

    friend bool operator==(const GnomeShortcutEntry&, const GnomeShortcutEntry&) = default;
};

// Norik's one entry among GNOME's custom keyboard shortcuts (the settings daemon's media-keys custom
// bindings, which GNOME's keyboard settings list and edit). The entry lives at a settings path that only
// Norik uses; entries at any other path are never changed, and the list of entries keeps their order.
//
// Main thread only (GSettings notifies on the thread default main context). Writes are synchronous.
class GnomeCustomShortcut {
public:
    static constexpr const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/norik/";

    // On the session's settings backend. Absent when GNOME's settings daemon schemas are not installed, which
    // is the case outside GNOME.
    [[nodiscard]] static std::optional<GnomeCustomShortcut> open();

    // Norik's entry as GNOME holds it; absent when GNOME does not list it (never added, or removed).
    [[nodiscard]] std::optional<GnomeShortcutEntry> current() const;
    // Adds the entry, or updates it in place. Fails with a sentence when GNOME's settings refuse the write.
    [[nodiscard]] std::expected<void, std::string> install(const GnomeShortcutEntry& entry);
    // Calls `changed` each time GNOME's list of custom shortcuts changes, in this process or another (the
    // user took Norik's entry out in GNOME's settings), from the main context; replaces an earlier call.
    void watch(std::function<void()> changed);

private:
    GnomeCustomShortcut(GObjectPtr<GSettings> list, GObjectPtr<GSettings> entry)
        : m_list(std::move(list)), m_entry(std::move(entry)) {}
    [[nodiscard]] bool listed() const;
    [[nodiscard]] std::expected<void, std::string> addToList();

    // Before the list, so that the list and its signal go first; on the heap, so that a move keeps its address.
    std::unique_ptr<std::function<void()>> m_changed = std::make_unique<std::function<void()>>();
    GObjectPtr<GSettings> m_list;
    GObjectPtr<GSettings> m_entry;
};

} // namespace norik::platform::desktop
