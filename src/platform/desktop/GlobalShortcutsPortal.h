// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "platform/desktop/GioHandles.h"

namespace norik::platform::desktop {

struct PortalError {
    // True when the user dismissed the desktop's dialog; the shortcut is then simply not bound.
    bool cancelled = false;
    std::string message;
};

// A shortcut the application asks for. `preferredTrigger` is in the XDG shortcuts format
// ("CTRL+ALT+space"); the desktop may assign another one or none.
struct ShortcutRequest {
    std::string id;
    std::string description;
    std::string preferredTrigger;
};

// A shortcut as the desktop holds it. `triggerDescription` is the desktop's own text for the keys it
// assigned, meant to be shown as is; empty when it assigned none.
struct BoundShortcut {
    std::string id;
    std::string description;
    std::string triggerDescription;

    friend bool operator==(const BoundShortcut&, const BoundShortcut&) = default;
};

using ShortcutsResult = std::expected<std::vector<BoundShortcut>, PortalError>;

// The desktop's GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts on the session bus): one
// session for the life of the object, in which the application binds its shortcuts and hears of their
// presses, whichever window has the focus.
//
// Asynchronous on GLib's default main context, which Qt's event loop runs on Linux: every callback runs
// there, on the thread that iterates it, never inside the call that started the work. Operations of one
// object must not overlap: bind() again only after the previous `done` has run. Destroying the
// object closes the session (the desktop forgets the bindings' activation for this process) and drops
// pending callbacks without running them.
class GlobalShortcutsPortal {
public:
    // On the given connection (the session bus when null). Fails when there is no bus or no portal that
    // offers the interface; this call blocks for at most a couple of seconds while it asks.
    [[nodiscard]] static std::expected<std::unique_ptr<GlobalShortcutsPortal>, PortalError>
    connect(GDBusConnection* bus = nullptr);
    GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
    GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;
    ~GlobalShortcutsPortal();

    // Creates the session on first use, then binds the shortcuts; `done` gets what the desktop assigned.
    // Binding again in the same session is refused by the portal; make a new object to bind anew.
    void bind(std::vector<ShortcutRequest> shortcuts, std::function<void(ShortcutsResult)> done);
    // Called with the shortcut's id each time the user presses it.
    void setActivated(std::function<void(const std::string& id)> activated);

private:
    struct Request;

    explicit GlobalShortcutsPortal(GObjectPtr<GDBusConnection> bus);
    void createSession(std::function<void(std::expected<void, PortalError>)> done);
    void bindInSession(const std::vector<ShortcutRequest>& shortcuts, std::function<void(ShortcutsResult)> done);
    // Calls a portal method whose answer comes later as the Response signal of the request object named
    // by `token`, and hands that answer's results to `done`. Takes the floating `parameters`.
    void request(const char* method, const std::string& token, GVariant* parameters,
                 std::function<void(std::expected<GVariantPtr, PortalError>)> done);
    void finishRequest(const std::string& path, std::expected<GVariantPtr, PortalError> result);
    // A floating {"handle_token": token} options dictionary.
    [[nodiscard]] static GVariant* handleOptions(const std::string& token);
    [[nodiscard]] std::string nextToken();
    [[nodiscard]] std::string objectPath(const char* kind, const std::string& token) const;

    static void onResponse(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                           const gchar* signal, GVariant* parameters, gpointer self);
    static void onMethodReturned(GObject* source, GAsyncResult* result, gpointer request);
    static void onActivated(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                            const gchar* signal, GVariant* parameters, gpointer self);

    GObjectPtr<GDBusConnection> m_bus;
    GObjectPtr<GCancellable> m_cancellable;
    std::string m_sender;
    std::string m_session;
    guint m_activatedSubscription = 0;
    std::function<void(const std::string&)> m_activated;
    std::vector<std::unique_ptr<Request>> m_requests;
};

} // namespace norik::platform::desktop
