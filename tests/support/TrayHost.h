// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <poll.h>
#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

#include "support/X11Client.h"

namespace norik::tests {

// A system tray as a desktop panel provides one: it owns the tray selection of screen 0, takes the icon
// windows that ask to dock, puts each into a container window of its own and maps it. Lets tests and
// benchmarks see a tray icon appear on a private X server, where no panel runs. It serves on its own
// connection and thread, so it answers while the caller blocks.
class TrayHost {
public:
    using Clock = std::chrono::steady_clock;

    struct Icon {
        xcb_window_t window = XCB_NONE;
        xcb_window_t container = XCB_NONE;
        // When the icon, reparented into its container, was mapped by the server.
        std::optional<Clock::time_point> shown;
    };

    explicit TrayHost(const std::string& display) {
        auto connection = platform::x11::XcbConnection::open(display.c_str());
        if (!connection) {
            m_error = connection.error();
            return;
        }
        m_connection.emplace(std::move(*connection));
        xcb_connection_t* c = m_connection->get();
        m_x11 = X11Client(c);
        m_opcode = m_x11.atom("_NET_SYSTEM_TRAY_OPCODE");
        const xcb_atom_t selection = m_x11.atom("_NET_SYSTEM_TRAY_S0");
        const xcb_window_t manager = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, manager, m_x11.root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(c, manager, selection, XCB_CURRENT_TIME);
        const platform::x11::XcbReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
        if (!owner || owner->owner != manager) {
            m_error = "another tray owns _NET_SYSTEM_TRAY_S0";
            return;
        }
        // Clients that started before the tray learn of it from this announcement.
        m_x11.send(m_x11.root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY, m_x11.root(), m_x11.atom("MANAGER"),
                   {XCB_CURRENT_TIME, selection, manager});
        m_thread = std::jthread([this](const std::stop_token& stop) { serve(stop); });
    }

    // Empty when the tray is up.
    [[nodiscard]] const std::string& error() const { return m_error; }

    // The last icon that asked to dock.
    [[nodiscard]] std::optional<Icon> icon() const {
        const std::scoped_lock lock(m_mutex);
        return m_icon;
    }

    // Forgets the docked icon, so the next start of a client is seen afresh.
    void reset() {
        const std::scoped_lock lock(m_mutex);
        m_icon.reset();
    }

private:
    static constexpr std::uint16_t kIconSize = 24;

    void serve(const std::stop_token& stop) {
        xcb_connection_t* c = m_connection->get();
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        while (!stop.stop_requested() && xcb_connection_has_error(c) == 0) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
                const std::scoped_lock lock(m_mutex);
                if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == m_opcode &&
                    message->data.data32[1] == 0) { // SYSTEM_TRAY_REQUEST_DOCK
                    dock(message->data.data32[2]);
                } else if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && m_icon && map->window == m_icon->window &&
                           !m_icon->shown) {
                    m_icon->shown = Clock::now();
                }
                std::free(event);
            }
            ::poll(&descriptor, 1, 50);
        }
    }

    void dock(xcb_window_t window) {
        xcb_connection_t* c = m_connection->get();
        m_icon = Icon{window, xcb_generate_id(c), std::nullopt};
        // Override-redirect, as a panel's own window is in effect: a window manager neither frames it nor gives it
        // the focus, so docking takes nothing from the window the user works in.
        const std::uint32_t attributes[] = {0x00202020, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_icon->container, m_x11.root(), 0, 0, kIconSize, kIconSize, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, attributes);
        const std::uint32_t watch = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &watch);
        xcb_reparent_window(c, window, m_icon->container, 0, 0);
        const std::uint32_t size[] = {kIconSize, kIconSize};
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
        xcb_map_window(c, window);
        xcb_map_window(c, m_icon->container);
        // An embedder tells the embedded client so (XEMBED_EMBEDDED_NOTIFY); toolkits wait for it before they treat
        // the window as docked.
        m_x11.send(window, XCB_EVENT_MASK_NO_EVENT, window, m_x11.atom("_XEMBED"),
                   {XCB_CURRENT_TIME, 0, 0, m_icon->container, 0});
    }

    std::optional<platform::x11::XcbConnection> m_connection;
    X11Client m_x11;
    xcb_atom_t m_opcode = XCB_NONE;
    std::string m_error;
    mutable std::mutex m_mutex;
    std::optional<Icon> m_icon;
    // Last: stopped and joined before the connection it serves goes.
    std::jthread m_thread;
};

} // namespace norik::tests
