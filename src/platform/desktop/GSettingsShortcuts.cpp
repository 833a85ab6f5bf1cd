// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/GSettingsShortcuts.h"

#include <array>
#include <memory>
#include <string_view>

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

namespace norik::platform {

namespace {

constexpr std::array<const char*, 5> kGnomeSchemas{
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys",
};
constexpr const char* kIbusSchema = "org.freedesktop.ibus.general.hotkey";
constexpr const char* kMediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustomBindingSchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaSourceUnref {
    void operator()(GSettingsSchemaSource* source) const { g_settings_schema_source_unref(source); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct StrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};

using Settings = std::unique_ptr<GSettings, GObjectUnref>;
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;

class Reader {
public:
    explicit Reader(const DesktopSources& sources) {
        if (sources.schemaDirectory.empty()) {
            GSettingsSchemaSource* shared = g_settings_schema_source_get_default();
            m_source.reset(shared != nullptr ? g_settings_schema_source_ref(shared) : nullptr);
        } else {
            m_source.reset(
                g_settings_schema_source_new_from_directory(sources.schemaDirectory.c_str(), nullptr, FALSE, nullptr));
        }
        if (sources.memoryBackend) {
            m_backend.reset(g_memory_settings_backend_new());
        }
    }

    [[nodiscard]] Schema schema(const char* id) const {
        return Schema(m_source ? g_settings_schema_source_lookup(m_source.get(), id, TRUE) : nullptr);
    }

    [[nodiscard]] Settings settings(GSettingsSchema* schema, const char* path = nullptr) const {
        return Settings(g_settings_new_full(schema, m_backend.get(), path));
    }

    // Every string and string-list value of a schema's keys.
    void collect(const char* id, std::vector<std::string>& out) const {
        const Schema found = schema(id);
        // A relocatable schema has no values of its own, only those at the paths that use it.
        if (!found || g_settings_schema_get_path(found.get()) == nullptr) {
            return;
        }
        const Settings settings = this->settings(found.get());
        const std::unique_ptr<gchar*, StrvFree> keys(g_settings_schema_list_keys(found.get()));
        for (gchar** key = keys.get(); *key != nullptr; ++key) {
            const std::unique_ptr<GVariant, VariantUnref> value(g_settings_get_value(settings.get(), *key));
            addStrings(value.get(), out);
        }
    }

    void collectCustomBindings(std::vector<std::string>& out) const {
        const Schema media = schema(kMediaKeysSchema);
        const Schema custom = schema(kCustomBindingSchema);
        if (!media || !custom || !g_settings_schema_has_key(media.get(), "custom-keybindings") ||
            !g_settings_schema_has_key(custom.get(), "binding")) {
            return;
        }
        const std::unique_ptr<gchar*, StrvFree> paths(
            g_settings_get_strv(settings(media.get()).get(), "custom-keybindings"));
        for (gchar** path = paths.get(); *path != nullptr; ++path) {
            // GSettings aborts on a malformed path, and the list is the user's to edit.
            const std::string_view text(*path);
            if (!text.starts_with('/') || !text.ends_with('/') || text.find("//") != std::string_view::npos) {
                continue;
            }
            const std::unique_ptr<gchar, decltype(&g_free)> binding(
                g_settings_get_string(settings(custom.get(), *path).get(), "binding"), &g_free);
            out.emplace_back(binding.get());
        }
    }

private:
    static void addStrings(GVariant* value, std::vector<std::string>& out) {
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
            out.emplace_back(g_variant_get_string(value, nullptr));
        } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
            gsize count = 0;
            const std::unique_ptr<const gchar*, decltype(&g_free)> strings(g_variant_get_strv(value, &count), &g_free);
            for (gsize index = 0; index < count; ++index) {
                out.emplace_back(strings.get()[index]);
            }
        }
    }

    std::unique_ptr<GSettingsSchemaSource, SchemaSourceUnref> m_source;
    std::unique_ptr<GSettingsBackend, GObjectUnref> m_backend;
};

} // namespace

std::vector<std::string> gsettingsAccelerators(const DesktopSources& sources) {
    std::vector<std::string> accelerators;
    if (!sources.gnome && !sources.ibus) {
        return accelerators;
    }
    const Reader reader(sources);
    if (sources.gnome) {
        for (const char* id : kGnomeSchemas) {
            reader.collect(id, accelerators);
        }
        reader.collectCustomBindings(accelerators);
    }
    if (sources.ibus) {
        reader.collect(kIbusSchema, accelerators);
    }
    return accelerators;
}

} // namespace norik::platform
