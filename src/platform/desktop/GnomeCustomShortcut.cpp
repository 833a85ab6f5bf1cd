// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/GnomeCustomShortcut.h"

#include <utility>
#include <vector>

namespace norik::platform::desktop {

namespace {

constexpr const char* kListSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kEntrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kListKey = "custom-keybindings";

struct StrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};

struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};

std::unique_ptr<GSettingsSchema, SchemaUnref> lookup(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return std::unique_ptr<GSettingsSchema, SchemaUnref>(
        source != nullptr ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr);
}

std::string text(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string result = value;
    g_free(value);
    return result;
}

} // namespace

std::optional<GnomeCustomShortcut> GnomeCustomShortcut::open() {
    const auto listSchema = lookup(kListSchema);
    const auto entrySchema = lookup(kEntrySchema);
    if (listSchema == nullptr || entrySchema == nullptr || !g_settings_schema_has_key(listSchema.get(), kListKey)) {
        return std::nullopt;
    }
    GObjectPtr<GSettings> list(g_settings_new_full(listSchema.get(), nullptr, nullptr));
    GObjectPtr<GSettings> entry(g_settings_new_full(entrySchema.get(), nullptr, path));
    return GnomeCustomShortcut(std::move(list), std::move(entry));
}

bool GnomeCustomShortcut::listed() const {
    const std::unique_ptr<gchar*, StrvFree> paths(g_settings_get_strv(m_list.get(), kListKey));
    return g_strv_contains(paths.get(), path);
}

std::optional<GnomeShortcutEntry> GnomeCustomShortcut::current() const {
    if (!listed()) {
        return std::nullopt;
    }
    return GnomeShortcutEntry{text(m_entry.get(), "name"), text(m_entry.get(), "command"),
                              text(m_entry.get(), "binding")};
}

std::expected<void, std::string> GnomeCustomShortcut::install(const GnomeShortcutEntry& entry) {
    // The keys first: GNOME picks the entry up when it is listed, and then it should be complete.
    if (!g_settings_set_string(m_entry.get(), "name", entry.name.c_str()) ||
        !g_settings_set_string(m_entry.get(), "command", entry.command.c_str()) ||
        !g_settings_set_string(m_entry.get(), "binding", entry.binding.c_str())) {
        g_settings_revert(m_entry.get());
        return std::unexpected("GNOME's keyboard settings cannot be changed (they are locked)");
    }
    return addToList();
}

void GnomeCustomShortcut::watch(std::function<void()> changed) {
    const bool connected = static_cast<bool>(*m_changed);
    *m_changed = std::move(changed);
    if (connected) {
        return;
    }
    // GSettings signals a change only of a key read since its last signal, so each signal reads it again.
    const auto onChanged = +[](GSettings* list, const gchar* key, std::function<void()>* call) {
        g_strfreev(g_settings_get_strv(list, key));
        (*call)();
    };
    g_signal_connect(m_list.get(), "changed::custom-keybindings", G_CALLBACK(onChanged), m_changed.get());
    g_strfreev(g_settings_get_strv(m_list.get(), kListKey));
}

std::expected<void, std::string> GnomeCustomShortcut::addToList() {
    const std::unique_ptr<gchar*, StrvFree> paths(g_settings_get_strv(m_list.get(), kListKey));
    if (g_strv_contains(paths.get(), path)) {
        g_settings_sync();
        return {};
    }
    std::vector<const gchar*> listed(paths.get(), paths.get() + g_strv_length(paths.get()));
    listed.push_back(path);
    listed.push_back(nullptr);
    if (!g_settings_set_strv(m_list.get(), kListKey, listed.data())) {
        return std::unexpected("GNOME's list of custom shortcuts cannot be changed (it is locked)");
    }
    g_settings_sync();
    return {};
}

} // namespace norik::platform::desktop
