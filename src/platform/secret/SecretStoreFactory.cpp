// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/SecretStoreFactory.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <utility>

#include <gio/gio.h>
#include <sys/stat.h>

#include "core/log/Problems.h"

namespace norik::platform {

namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr int kCallTimeoutMilliseconds = 2000;

// GLib would otherwise try to autolaunch a bus through X11, which is slow and never finds a keyring.
bool sessionBusConfigured() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return false;
    }
    struct stat info {};
    return ::stat((std::filesystem::path(runtime) / "bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

GVariant* callBus(GDBusConnection* bus, const char* method, GVariant* parameters, const char* replyType) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method, parameters, G_VARIANT_TYPE(replyType),
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMilliseconds, nullptr, &error);
    g_clear_error(&error);
    return reply;
}

bool nameHasOwner(GDBusConnection* bus) {
    GVariant* reply = callBus(bus, "NameHasOwner", g_variant_new("(s)", kSecretsName), "(b)");
    if (reply == nullptr) {
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

bool nameActivatable(GDBusConnection* bus) {
    GVariant* reply = callBus(bus, "ListActivatableNames", nullptr, "(as)");
    if (reply == nullptr) {
        return false;
    }
    GVariantIter* names = nullptr;
    g_variant_get(reply, "(as)", &names);
    bool found = false;
    const gchar* name = nullptr;
    while (!found && g_variant_iter_next(names, "&s", &name)) {
        found = std::string_view(name) == kSecretsName;
    }
    g_variant_iter_free(names);
    g_variant_unref(reply);
    return found;
}

} // namespace

bool secretServiceAvailable() {
    if (!sessionBusConfigured()) {
        return false;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    const bool available = nameHasOwner(bus) || nameActivatable(bus);
    g_object_unref(bus);
    return available;
}

SessionSecretStore::SessionSecretStore(std::string service, std::filesystem::path file,
                                       std::function<void(const std::filesystem::path&)> onUnencrypted)
    : m_service(std::move(service)), m_file(std::move(file)), m_onUnencrypted(std::move(onUnencrypted)) {}

std::optional<std::string> SessionSecretStore::read(const std::string& account) {
    return current().read(account);
}

std::expected<void, std::string> SessionSecretStore::store(const std::string& text, const std::string& account) {
    return current().store(text, account);
}

core::SecretStore& SessionSecretStore::current() {
    if (secretServiceAvailable()) {
        return m_service;
    }
    std::call_once(m_warned, [this] {
        if (m_onUnencrypted) {
            m_onUnencrypted(m_file.path());
        }
    });
    return m_file;
}

std::unique_ptr<core::SecretStore> makeSecretStore() {
    const auto onUnencrypted = [](const std::filesystem::path& file) {
        static std::once_flag warned;
        std::call_once(warned, [&file] {
            core::reportProblem({core::Problem::Kind::keysUnencrypted,
                                 file,
                                 {},
                                 "norik: warning: no Secret Service on the session bus; API keys are stored "
                                 "unencrypted in " +
                                     file.string()});
        });
    };
    return std::make_unique<SessionSecretStore>(std::string(core::kAppId), FileSecretStore::defaultPath(),
                                                onUnencrypted);
}

} // namespace norik::platform
