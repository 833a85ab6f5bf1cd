// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/GlobalShortcutsPortal.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace norik::platform::desktop {

namespace {

// Unique in the process: a new object's session or request must not take the name of one that the portal
// still holds for an object destroyed a moment ago.
std::atomic<unsigned> tokenCount{0};

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr int kConnectTimeoutMs = 2000;

// Portal answers: 0 success, 1 the user cancelled, 2 anything else.
constexpr guint32 kResponseCancelled = 1;

std::string stringMember(GVariant* dictionary, const char* key) {
    const GVariantPtr value(g_variant_lookup_value(dictionary, key, nullptr));
    if (value == nullptr || !(g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING) ||
                              g_variant_is_of_type(value.get(), G_VARIANT_TYPE_OBJECT_PATH))) {
        return {};
    }
    return g_variant_get_string(value.get(), nullptr);
}

std::vector<BoundShortcut> shortcutsOf(GVariant* results) {
    std::vector<BoundShortcut> shortcuts;
    const GVariantPtr list(g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})")));
    if (list == nullptr) {
        return shortcuts;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, list.get());
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        const GVariantPtr owned(properties);
        shortcuts.push_back(
            {id, stringMember(properties, "description"), stringMember(properties, "trigger_description")});
    }
    return shortcuts;
}

ShortcutsResult shortcutsOf(std::expected<GVariantPtr, PortalError> results) {
    if (!results) {
        return std::unexpected(std::move(results.error()));
    }
    return shortcutsOf(results->get());
}

// Identifies a method call across its asynchronous reply, which may arrive after the portal object is gone.
struct PendingCall {
    GlobalShortcutsPortal* owner;
    std::string requestPath;
};

} // namespace

struct GlobalShortcutsPortal::Request {
    std::string path;
    guint subscription = 0;
    std::function<void(std::expected<GVariantPtr, PortalError>)> done;
};

std::expected<std::unique_ptr<GlobalShortcutsPortal>, PortalError>
GlobalShortcutsPortal::connect(GDBusConnection* bus) {
    GError* raw = nullptr;
    GObjectPtr<GDBusConnection> connection(bus != nullptr ? G_DBUS_CONNECTION(g_object_ref(bus))
                                                          : g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    GErrorPtr error(raw);
    if (connection == nullptr) {
        return std::unexpected(PortalError{false, "No session bus: " + messageOf(error.get(), "unknown error")});
    }
    // The interface exists on every portal; only a desktop that implements it answers for its version.
    const GVariantPtr version(
        g_dbus_connection_call_sync(connection.get(), kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", kInterface, "version"), G_VARIANT_TYPE("(v)"),
                                    G_DBUS_CALL_FLAGS_NONE, kConnectTimeoutMs, nullptr, &raw));
    error.reset(raw);
    if (version == nullptr) {
        return std::unexpected(PortalError{false, "The desktop offers no global shortcuts portal: " +
                                                      messageOf(error.get(), "no answer")});
    }
    return std::unique_ptr<GlobalShortcutsPortal>(new GlobalShortcutsPortal(std::move(connection)));
}

GlobalShortcutsPortal::GlobalShortcutsPortal(GObjectPtr<GDBusConnection> bus)
    : m_bus(std::move(bus)), m_cancellable(g_cancellable_new()) {
    // Request and session objects live under the caller's unique name, without its ':' and with '_' for '.'.
    std::string sender = g_dbus_connection_get_unique_name(m_bus.get());
    sender.erase(0, sender.starts_with(':') ? 1 : 0);
    std::ranges::replace(sender, '.', '_');
    m_sender = std::move(sender);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    g_cancellable_cancel(m_cancellable.get());
    for (const auto& request : m_requests) {
        g_dbus_connection_signal_unsubscribe(m_bus.get(), request->subscription);
    }
    if (m_activatedSubscription != 0) {
        g_dbus_connection_signal_unsubscribe(m_bus.get(), m_activatedSubscription);
    }
    if (!m_session.empty()) {
        g_dbus_connection_call(m_bus.get(), kPortal, m_session.c_str(), "org.freedesktop.portal.Session", "Close",
                               nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        g_dbus_connection_flush(m_bus.get(), nullptr, nullptr, nullptr);
    }
}

void GlobalShortcutsPortal::setActivated(std::function<void(const std::string&)> activated) {
    m_activated = std::move(activated);
}

void GlobalShortcutsPortal::bind(std::vector<ShortcutRequest> shortcuts, std::function<void(ShortcutsResult)> done) {
    if (!m_session.empty()) {
        bindInSession(shortcuts, std::move(done));
        return;
    }
    createSession([this, shortcuts = std::move(shortcuts),
                   done = std::move(done)](std::expected<void, PortalError> created) mutable {
        if (!created) {
            done(std::unexpected(std::move(created.error())));
            return;
        }
        bindInSession(shortcuts, std::move(done));
    });
}

void GlobalShortcutsPortal::bindInSession(const std::vector<ShortcutRequest>& shortcuts,
                                          std::function<void(ShortcutsResult)> done) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const ShortcutRequest& shortcut : shortcuts) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(shortcut.description.c_str()));
        if (!shortcut.preferredTrigger.empty()) {
            g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                                  g_variant_new_string(shortcut.preferredTrigger.c_str()));
        }
        g_variant_builder_add(&list, "(sa{sv})", shortcut.id.c_str(), &properties);
    }
    const std::string token = nextToken();
    request("BindShortcuts", token,
            g_variant_new("(oa(sa{sv})s@a{sv})", m_session.c_str(), &list, "", handleOptions(token)),
            [done = std::move(done)](std::expected<GVariantPtr, PortalError> results) {
                done(shortcutsOf(std::move(results)));
            });
}

void GlobalShortcutsPortal::createSession(std::function<void(std::expected<void, PortalError>)> done) {
    const std::string token = nextToken();
    const std::string sessionToken = "norik_session" + std::to_string(++tokenCount);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(sessionToken.c_str()));
    request("CreateSession", token, g_variant_new("(a{sv})", &options),
            [this, done = std::move(done)](std::expected<GVariantPtr, PortalError> results) {
                if (!results) {
                    done(std::unexpected(std::move(results.error())));
                    return;
                }
                m_session = stringMember(results->get(), "session_handle");
                if (m_session.empty()) {
                    done(std::unexpected(PortalError{false, "The desktop created no shortcuts session"}));
                    return;
                }
                // Activated carries the session as an object path, which a bus match on arg0 cannot compare.
                m_activatedSubscription = g_dbus_connection_signal_subscribe(
                    m_bus.get(), kPortal, kInterface, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                    &GlobalShortcutsPortal::onActivated, this, nullptr);
                done({});
            });
}

GVariant* GlobalShortcutsPortal::handleOptions(const std::string& token) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return g_variant_builder_end(&options);
}

std::string GlobalShortcutsPortal::nextToken() {
    return "norik" + std::to_string(++tokenCount);
}

std::string GlobalShortcutsPortal::objectPath(const char* kind, const std::string& token) const {
    return std::string(kPortalPath) + "/" + kind + "/" + m_sender + "/" + token;
}

void GlobalShortcutsPortal::request(const char* method, const std::string& token, GVariant* parameters,
                                    std::function<void(std::expected<GVariantPtr, PortalError>)> done) {
    auto pending = std::make_unique<Request>();
    pending->path = objectPath("request", token);
    pending->done = std::move(done);
    // Subscribed before the call, so that a desktop that answers at once is not missed.
    pending->subscription = g_dbus_connection_signal_subscribe(
        m_bus.get(), kPortal, "org.freedesktop.portal.Request", "Response", pending->path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &GlobalShortcutsPortal::onResponse, this, nullptr);
    auto* call = new PendingCall{this, pending->path};
    m_requests.push_back(std::move(pending));
    g_dbus_connection_call(m_bus.get(), kPortal, kPortalPath, kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, m_cancellable.get(), &GlobalShortcutsPortal::onMethodReturned,
                           call);
}

void GlobalShortcutsPortal::finishRequest(const std::string& path, std::expected<GVariantPtr, PortalError> result) {
    const auto found = std::ranges::find(m_requests, path, [](const auto& request) { return request->path; });
    if (found == m_requests.end()) {
        return;
    }
    const std::unique_ptr<Request> request = std::move(*found);
    m_requests.erase(found);
    g_dbus_connection_signal_unsubscribe(m_bus.get(), request->subscription);
    request->done(std::move(result));
}

void GlobalShortcutsPortal::onMethodReturned(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
    GError* raw = nullptr;
    const GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw));
    const GErrorPtr error(raw);
    if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        return;
    }
    GlobalShortcutsPortal& self = *call->owner;
    if (reply == nullptr) {
        self.finishRequest(call->requestPath, std::unexpected(PortalError{false, messageOf(error.get(), "no answer")}));
        return;
    }
    const gchar* handle = nullptr;
    g_variant_get(reply.get(), "(&o)", &handle);
    // Portals older than the handle_token convention choose the path themselves; follow it there.
    if (call->requestPath != handle) {
        const auto found =
            std::ranges::find(self.m_requests, call->requestPath, [](const auto& request) { return request->path; });
        if (found != self.m_requests.end()) {
            Request& request = **found;
            g_dbus_connection_signal_unsubscribe(self.m_bus.get(), request.subscription);
            request.path = handle;
            request.subscription = g_dbus_connection_signal_subscribe(
                self.m_bus.get(), kPortal, "org.freedesktop.portal.Request", "Response", handle, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, &GlobalShortcutsPortal::onResponse, &self, nullptr);
        }
    }
}

void GlobalShortcutsPortal::onResponse(GDBusConnection* /*bus*/, const gchar* /*sender*/, const gchar* path,
                                       const gchar* /*interface*/, const gchar* /*signal*/, GVariant* parameters,
                                       gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
        return;
    }
    guint32 response = 0;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    GVariantPtr owned(results);
    auto& portal = *static_cast<GlobalShortcutsPortal*>(self);
    if (response == 0) {
        portal.finishRequest(path, std::move(owned));
    } else if (response == kResponseCancelled) {
        portal.finishRequest(path, std::unexpected(PortalError{true, "The request was dismissed"}));
    } else {
        portal.finishRequest(path, std::unexpected(PortalError{false, "The desktop refused the request"}));
    }
}

void GlobalShortcutsPortal::onActivated(GDBusConnection* /*bus*/, const gchar* /*sender*/, const gchar* /*path*/,
                                        const gchar* /*interface*/, const gchar* /*signal*/, GVariant* parameters,
                                        gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})")) &&
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ost)"))) {
        return;
    }
    auto& portal = *static_cast<GlobalShortcutsPortal*>(self);
    const gchar* session = nullptr;
    const gchar* id = nullptr;
    g_variant_get_child(parameters, 0, "&o", &session);
    g_variant_get_child(parameters, 1, "&s", &id);
    if (portal.m_session == session && portal.m_activated) {
        portal.m_activated(id);
    }
}

} // namespace norik::platform::desktop
