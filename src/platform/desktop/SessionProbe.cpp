// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SessionProbe.h"

#include <cstdlib>
#include <memory>
#include <ranges>

#include "platform/desktop/GioHandles.h"
#include "platform/x11/XcbHandles.h"

namespace norik::platform::desktop {

namespace {

constexpr int kBusTimeoutMs = 1000;

bool listsDesktop(std::string_view names, std::string_view wanted) {
    for (const auto part : names | std::views::split(':')) {
        const std::string_view name(part.begin(), part.end());
        if (name.size() == wanted.size() &&
            std::ranges::equal(name, wanted, [](char a, char b) { return g_ascii_tolower(a) == g_ascii_tolower(b); })) {
            return true;
        }
    }
    return false;
}

bool statusNotifierHostOn(GDBusConnection* bus) {
    GError* raw = nullptr;
    const GVariantPtr reply(g_dbus_connection_call_sync(
        bus, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kBusTimeoutMs, nullptr, &raw));
    const GErrorPtr error(raw);
    if (reply == nullptr) {
        return false;
    }
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    const GVariantPtr owned(value);
    return g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value) != FALSE;
}

bool xembedTrayOn(xcb_connection_t* connection, int screenNumber) {
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    const xcb_atom_t atom = x11::internAtom(connection, name, true);
    if (atom == XCB_ATOM_NONE) {
        return false;
    }
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom), nullptr), &std::free);
    return owner != nullptr && owner->owner != XCB_NONE;
}

} // namespace

std::optional<std::string> processEnvironment(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

SessionFacts probeSession(const EnvironmentLookup& environment, GDBusConnection* bus, xcb_connection_t* x11,
                          int screenNumber) {
    SessionFacts facts;
    const std::string type = environment("XDG_SESSION_TYPE").value_or("");
    facts.wayland = type == "wayland" || (type.empty() && !environment("WAYLAND_DISPLAY").value_or("").empty());
    const std::string desktops = environment("XDG_CURRENT_DESKTOP").value_or("");
    if (listsDesktop(desktops, "GNOME")) {
        facts.desktop = Desktop::gnome;
    } else if (listsDesktop(desktops, "KDE")) {
        facts.desktop = Desktop::kde;
    }
    facts.statusNotifierHost = bus != nullptr && statusNotifierHostOn(bus);
    facts.xembedTray = x11 != nullptr && xembedTrayOn(x11, screenNumber);
    return facts;
}

TriggerRoute chooseTriggerRoute(const SessionFacts& facts, bool portalAvailable, bool gnomeShortcutsAvailable) {
    if (!facts.wayland) {
        return TriggerRoute::x11Grab;
    }
    if (portalAvailable) {
        return TriggerRoute::portal;
    }
    if (facts.desktop == Desktop::gnome && gnomeShortcutsAvailable) {
        return TriggerRoute::gnomeCustomShortcut;
    }
    return TriggerRoute::manualCommand;
}

} // namespace norik::platform::desktop
