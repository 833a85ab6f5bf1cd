// SPDX-License-Identifier: GPL-3.0-or-later
// Norik's GNOME custom shortcut on GNOME's own schemas, written to a settings backend in memory.
#define G_SETTINGS_ENABLE_BACKEND
#include "platform/desktop/GnomeCustomShortcut.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

#include <gio/gsettingsbackend.h>
#include <gtest/gtest.h>

namespace norik::platform::desktop {
namespace {

constexpr const char* kBase = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
const std::string custom0 = std::string(kBase) + "custom0/";
const std::string custom1 = std::string(kBase) + "custom1/";
const std::string norik = GnomeCustomShortcut::path;
const GnomeShortcutEntry usersOwn{"Terminal", "gnome-terminal", "<Super>t"};
const GnomeShortcutEntry review{"Norik: Review selection", "norik trigger", "<Control><Alt>space"};
const std::array kKeys{std::pair{"name", &GnomeShortcutEntry::name}, std::pair{"command", &GnomeShortcutEntry::command},
                       std::pair{"binding", &GnomeShortcutEntry::binding}};

// What GNOME's own settings see, on the test's backend.
GObjectPtr<GSettings> gnomeSettings(GSettingsBackend* backend, const std::string& path = {}) {
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(g_settings_schema_source_get_default(),
                                        path.empty() ? "org.gnome.settings-daemon.plugins.media-keys"
                                                     : "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding",
                                        TRUE);
    GObjectPtr<GSettings> settings(g_settings_new_full(schema, backend, path.empty() ? nullptr : path.c_str()));
    g_settings_schema_unref(schema);
    return settings;
}

GnomeShortcutEntry entryAt(GSettingsBackend* backend, const std::string& path) {
    const auto keys = gnomeSettings(backend, path);
    GnomeShortcutEntry entry;
    for (const auto& [key, field] : kKeys) {
        gchar* value = g_settings_get_string(keys.get(), key);
        entry.*field = value;
        g_free(value);
    }
    return entry;
}

struct InstallCase {
    const char* name;
    std::vector<std::string> before;
    std::vector<std::string> after;
};

class GnomeCustomShortcutInstall : public ::testing::TestWithParam<InstallCase> {};

TEST_P(GnomeCustomShortcutInstall, ListsNorikOnceAndLeavesOtherEntriesAlone) {
    const GObjectPtr<GSettingsBackend> backend(g_memory_settings_backend_new());
    auto shortcut = GnomeCustomShortcut::open(backend.get());
    ASSERT_TRUE(shortcut) << "GNOME's settings daemon schemas are missing; run scripts/install-deps";
    const auto list = gnomeSettings(backend.get());
    std::vector<const gchar*> before;
    for (const std::string& path : GetParam().before) {
        before.push_back(path.c_str());
    }
    before.push_back(nullptr);
    g_settings_set_strv(list.get(), "custom-keybindings", before.data());
    const auto own = gnomeSettings(backend.get(), custom0);
    for (const auto& [key, field] : kKeys) {
        g_settings_set_string(own.get(), key, (usersOwn.*field).c_str());
    }

    ASSERT_TRUE(shortcut->install(review));

    gchar** after = g_settings_get_strv(list.get(), "custom-keybindings");
    EXPECT_EQ(std::vector<std::string>(after, after + g_strv_length(after)), GetParam().after);
    g_strfreev(after);
    EXPECT_EQ(shortcut->current(), review);
    EXPECT_EQ(entryAt(backend.get(), norik), review);
    EXPECT_EQ(entryAt(backend.get(), custom0), usersOwn);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GnomeCustomShortcutInstall,
    ::testing::Values(InstallCase{"AddedToAnEmptyList", {}, {norik}},
                      InstallCase{"AppendedAfterTheUsersEntries", {custom0, custom1}, {custom0, custom1, norik}},
                      InstallCase{"UpdatedWhereItIsListed", {custom0, norik, custom1}, {custom0, norik, custom1}}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::platform::desktop
