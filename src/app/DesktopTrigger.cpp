// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DesktopTrigger.h"

#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "core/shortcuts/NorikShortcuts.h"
#include "core/shortcuts/Notifications.h"
#include "platform/desktop/GioHandles.h"
#include "platform/desktop/GlobalShortcutsPortal.h"
#include "platform/desktop/GnomeCustomShortcut.h"
#include "platform/desktop/SessionProbe.h"
#include "platform/desktop/TriggerText.h"

namespace norik::app {

namespace desktop = platform::desktop;

namespace {

constexpr const char* kPortalId = "review-selection";
constexpr const char* kEntryName = "Norik: review selection";

using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

// The keyboard as the X server maps it, so keys are named as the user's layout types them.
KeymapPtr serverKeymap(xcb_connection_t* x11) {
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                             &xkb_context_unref);
    if (!context) {
        return {nullptr, &xkb_keymap_unref};
    }
    const std::int32_t device = x11 != nullptr ? xkb_x11_get_core_keyboard_device_id(x11) : -1;
    return {device >= 0 ? xkb_x11_keymap_new_from_device(context.get(), x11, device, XKB_KEYMAP_COMPILE_NO_FLAGS)
                        : xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS),
            &xkb_keymap_unref};
}

} // namespace

struct DesktopTrigger::Impl {
    Impl(core::shortcuts::Registry& shortcuts, std::function<void()> onTrigger)
        : registry(shortcuts), trigger(std::move(onTrigger)) {}

    core::shortcuts::Registry& registry;
    std::function<void()> trigger;
    KeymapPtr keymap{nullptr, &xkb_keymap_unref};
    desktop::SessionFacts facts;
    desktop::TriggerRoute route = desktop::TriggerRoute::x11Grab;
    desktop::GObjectPtr<GDBusConnection> bus;
    std::unique_ptr<desktop::GlobalShortcutsPortal> portal;
    std::optional<desktop::GnomeCustomShortcut> gnome;
    QString assigned;
    // The preferred trigger sent in the portal's current session.
    std::string requested;
    bool portalBound = false;
    std::optional<core::shortcuts::NotificationCenter::Observer> shortcutChanges;

    // Once the desktop holds the binding, Norik's own key grab goes: over X11 windows both would answer one
    // press, or the grab would meet the desktop's own and be reported as failing.
    void followDesktop() {
        const bool bound = route == desktop::TriggerRoute::portal
                               ? portalBound
                               : route == desktop::TriggerRoute::gnomeCustomShortcut && gnome->current();
        registry.setEnabled(!bound);
    }

    [[nodiscard]] std::optional<core::shortcuts::Shortcut> reviewShortcut() const {
        return registry.getShortcut(core::shortcuts::reviewSelection());
    }

    [[nodiscard]] std::string preferredTrigger() const {
        const auto shortcut = reviewShortcut();
        return shortcut && keymap ? desktop::xdgTrigger(*shortcut, keymap.get(), 0).value_or("") : "";
    }

    void bindPortal() {
        requested = preferredTrigger();
        portal->setActivated([this](const std::string& id) {
            if (id == kPortalId) {
                trigger();
            }
        });
        portal->bind({{kPortalId, "Review selection", requested}}, [this](desktop::ShortcutsResult bound) {
            if (!bound) {
                if (!bound.error().cancelled) {
                    std::cerr << "norik: the desktop did not bind the shortcut: " << bound.error().message << '\n';
                }
                portalBound = false;
                followDesktop();
                return;
            }
            for (const desktop::BoundShortcut& each : *bound) {
                if (each.id == kPortalId) {
                    assigned = QString::fromStdString(each.triggerDescription);
                    portalBound = true;
                }
            }
            followDesktop();
        });
    }

    // The portal binds once per session, so a recorded shortcut is offered to the desktop in a new session;
    // the desktop decides what it assigns (Plasma keeps the keys the user gave it in its own settings).
    void rebindPortal() {
        if (preferredTrigger() == requested) {
            return;
        }
        portal.reset();
        auto connected = desktop::GlobalShortcutsPortal::connect(bus.get());
        if (!connected) {
            portalBound = false;
            followDesktop();
            return;
        }
        portal = *std::move(connected);
        bindPortal();
    }

    [[nodiscard]] desktop::GnomeShortcutEntry gnomeEntry() const {
        const auto shortcut = reviewShortcut();
        std::string binding;
        if (shortcut && keymap) {
            binding = desktop::gnomeAccelerator(*shortcut, keymap.get(), 0).value_or("");
        }
        return {kEntryName, "norik trigger", binding};
    }

    std::optional<QString> installGnome() {
        const auto written = gnome->install(gnomeEntry());
        followDesktop();
        return written ? std::nullopt : std::optional(QString::fromStdString(written.error()));
    }
};

DesktopTrigger::DesktopTrigger(core::shortcuts::Registry& registry, xcb_connection_t* x11,
                               std::function<void()> trigger)
    : m_impl(std::make_unique<Impl>(registry, std::move(trigger))) {
    Impl& impl = *m_impl;
    // Without an address GLib would launch a bus of its own, which nothing else in the session would share.
    impl.bus.reset(desktop::processEnvironment("DBUS_SESSION_BUS_ADDRESS")
                       ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)
                       : nullptr);
    impl.facts = desktop::probeSession(desktop::processEnvironment, impl.bus.get(), x11);
    if (!impl.facts.wayland) {
        return;
    }
    impl.keymap = serverKeymap(x11);
    if (impl.bus != nullptr) {
        if (auto connected = desktop::GlobalShortcutsPortal::connect(impl.bus.get())) {
            impl.portal = *std::move(connected);
        }
    }
    if (impl.facts.desktop == desktop::Desktop::gnome) {
        impl.gnome = desktop::GnomeCustomShortcut::open();
    }
    impl.route = desktop::chooseTriggerRoute(impl.facts, impl.portal != nullptr, impl.gnome.has_value());
    if (impl.route == desktop::TriggerRoute::portal) {
        impl.bindPortal();
        impl.shortcutChanges = registry.notifications().addObserver(
            core::shortcuts::shortcutByNameDidChange,
            [&impl](const core::shortcuts::Notification&) { impl.rebindPortal(); });
    } else if (impl.route == desktop::TriggerRoute::gnomeCustomShortcut) {
        // A recorded shortcut goes to Norik's entry, once the user has added it; other entries stay as they are.
        impl.shortcutChanges = registry.notifications().addObserver(
            core::shortcuts::shortcutByNameDidChange, [&impl](const core::shortcuts::Notification&) {
                if (impl.gnome->current()) {
                    if (const auto refused = impl.installGnome()) {
                        std::cerr << "norik: GNOME did not take the new shortcut: " << refused->toStdString() << '\n';
                    }
                }
            });
        impl.gnome->watch([&impl] { impl.followDesktop(); });
        impl.followDesktop();
    }
}

DesktopTrigger::~DesktopTrigger() = default;

TriggerRouteState DesktopTrigger::state() {
    Impl* impl = m_impl.get();
    return {
        .route = impl->route,
        .assignedTrigger = [impl] { return impl->assigned; },
        .gnomeEntryInstalled = [impl] { return impl->gnome && impl->gnome->current().has_value(); },
        .installGnomeEntry = [impl] { return impl->installGnome(); },
    };
}

bool DesktopTrigger::hasTray() const {
    return m_impl->facts.hasTray();
}

bool DesktopTrigger::onGnome() const {
    return m_impl->facts.desktop == desktop::Desktop::gnome;
}

} // namespace norik::app
