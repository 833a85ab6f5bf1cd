// SPDX-License-Identifier: GPL-3.0-or-later
// Norik's GNOME custom shortcut on GNOME's own schemas, written to a settings backend in memory.
#define G_SETTINGS_ENABLE_BACKEND
#include "platform/desktop/GnomeCustomShortcut.h"

#include <string>
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

class GnomeSettings {
public:
    GnomeSettings() : m_backend(g_memory_settings_backend_new()) {}

    [[nodiscard]] GSettingsBackend* backend() const { return m_backend.get(); }

    [[nodiscard]] std::vector<std::string> paths() const {
        const GObjectPtr<GSettings> list(settings("org.gnome.settings-daemon.plugins.media-keys", nullptr));
        gchar** strings = g_settings_get_strv(list.get(), "custom-keybindings");
        std::vector<std::string> result(strings, strings + g_strv_length(strings));
        g_strfreev(strings);
        return result;
    }
    void setPaths(const std::vector<std::string>& paths) const {
        std::vector<const gchar*> strings;
        for (const auto& path : paths) {
            strings.push_back(path.c_str());
        }
        strings.push_back(nullptr);
        const GObjectPtr<GSettings> list(settings("org.gnome.settings-daemon.plugins.media-keys", nullptr));
        g_settings_set_strv(list.get(), "custom-keybindings", strings.data());
    }
    void setEntry(const std::string& path, const GnomeShortcutEntry& entry) const {
        const GObjectPtr<GSettings> keys(settings(kEntrySchema, path.c_str()));
        g_settings_set_string(keys.get(), "name", entry.name.c_str());
        g_settings_set_string(keys.get(), "command", entry.command.c_str());
        g_settings_set_string(keys.get(), "binding", entry.binding.c_str());
    }
    [[nodiscard]] GnomeShortcutEntry entry(const std::string& path) const {
        const GObjectPtr<GSettings> keys(settings(kEntrySchema, path.c_str()));
        auto text = [&](const char* key) {
            gchar* value = g_settings_get_string(keys.get(), key);
            std::string result = value;
            g_free(value);
            return result;
        };
        return {text("name"), text("command"), text("binding")};
    }

private:
    static constexpr const char* kEntrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

    [[nodiscard]] GSettings* settings(const char* schema, const char* path) const {
        GSettingsSchema* found = g_settings_schema_source_lookup(g_settings_schema_source_get_default(), schema, TRUE);
        GSettings* result = g_settings_new_full(found, m_backend.get(), path);
        g_settings_schema_unref(found);
        return result;
    }

    GObjectPtr<GSettingsBackend> m_backend;
};

struct InstallCase {
    const char* name;
    std::vector<std::string> before;
    std::vector<std::string> after;
};

class GnomeCustomShortcutInstall : public ::testing::TestWithParam<InstallCase> {};

TEST_P(GnomeCustomShortcutInstall, ListsNorikOnceAndLeavesOtherEntriesAlone) {
    const GnomeSettings gnome;
    gnome.setPaths(GetParam().before);
    gnome.setEntry(custom0, usersOwn);
    auto shortcut = GnomeCustomShortcut::open(gnome.backend());
    ASSERT_TRUE(shortcut) << "GNOME's settings daemon schemas are missing; run scripts/install-deps";

    ASSERT_TRUE(shortcut->install(review));

    EXPECT_EQ(gnome.paths(), GetParam().after);
    EXPECT_EQ(shortcut->current(), review);
    EXPECT_EQ(gnome.entry(norik), review);
    EXPECT_EQ(gnome.entry(custom0), usersOwn);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GnomeCustomShortcutInstall,
    ::testing::Values(InstallCase{"AddedToAnEmptyList", {}, {norik}},
                      InstallCase{"AppendedAfterTheUsersEntries", {custom0, custom1}, {custom0, custom1, norik}},
                      InstallCase{"UpdatedWhereItIsListed", {custom0, norik, custom1}, {custom0, norik, custom1}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(GnomeCustomShortcut, RemovingTakesOutOnlyNoriksEntry) {
    const GnomeSettings gnome;
    gnome.setPaths({custom0, norik, custom1});
    gnome.setEntry(custom0, usersOwn);
    gnome.setEntry(norik, review);
    auto shortcut = GnomeCustomShortcut::open(gnome.backend());
    ASSERT_TRUE(shortcut);

    ASSERT_TRUE(shortcut->remove());

    EXPECT_EQ(gnome.paths(), (std::vector<std::string>{custom0, custom1}));
    EXPECT_EQ(shortcut->current(), std::nullopt);
    EXPECT_EQ(gnome.entry(norik), (GnomeShortcutEntry{}));
    EXPECT_EQ(gnome.entry(custom0), usersOwn);
}

} // namespace
} // namespace norik::platform::desktop
