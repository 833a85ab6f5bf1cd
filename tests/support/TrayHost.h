// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <poll.h>
#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

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
        Clock::time_point dockRequested;
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
        m_root = platform::x11::rootWindow(c, 0);
        m_selection = atom("_NET_SYSTEM_TRAY_S0");
        m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
        m_xembed = atom("_XEMBED");
        const xcb_atom_t manager = atom("MANAGER");

        m_manager = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_manager, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(c, m_manager, m_selection, XCB_CURRENT_TIME);
        const platform::x11::XcbReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, m_selection), nullptr));
        if (!owner || owner->owner != m_manager) {
            m_error = "another tray owns _NET_SYSTEM_TRAY_S0";
            return;
        }
        // Clients that started before the tray learn of it from this announcement.
        xcb_client_message_event_t announcement{};
        announcement.response_type = XCB_CLIENT_MESSAGE;
        announcement.format = 32;
        announcement.window = m_root;
        announcement.type = manager;
        announcement.data.data32[0] = XCB_CURRENT_TIME;
        announcement.data.data32[1] = m_selection;
        announcement.data.data32[2] = m_manager;
        xcb_send_event(c, 0, m_root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announcement));
        xcb_flush(c);
        m_thread = std::jthread([this](const std::stop_token& stop) { serve(stop); });
    }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;
    ~TrayHost() {
        m_thread.request_stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
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
    static constexpr std::uint32_t kRequestDock = 0;
    static constexpr std::uint32_t kEmbeddedNotify = 0;
    static constexpr int kIconSize = 24;

    [[nodiscard]] xcb_atom_t atom(const char* name) const {
        return platform::x11::internAtom(m_connection->get(), name);
    }

    void serve(const std::stop_token& stop) {
        xcb_connection_t* c = m_connection->get();
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        while (!stop.stop_requested() && xcb_connection_has_error(c) == 0) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                handle(event);
                std::free(event);
            }
            ::poll(&descriptor, 1, 50);
        }
    }

    void handle(const xcb_generic_event_t* event) {
        xcb_connection_t* c = m_connection->get();
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type != m_opcode || message->data.data32[1] != kRequestDock) {
                return;
            }
            Icon icon;
            icon.window = message->data.data32[2];
            icon.dockRequested = Clock::now();
            icon.container = xcb_generate_id(c);
            // Override-redirect, as a panel's own window is in effect: a window manager neither frames it nor
            // gives it the focus, so docking takes nothing from the window the user works in.
            const std::uint32_t attributes[] = {0x00202020, 1};
            xcb_create_window(c, XCB_COPY_FROM_PARENT, icon.container, m_root, 0, 0, kIconSize, kIconSize, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                              XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, attributes);
            const std::uint32_t watch = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(c, icon.window, XCB_CW_EVENT_MASK, &watch);
            xcb_reparent_window(c, icon.window, icon.container, 0, 0);
            const std::uint32_t size[] = {kIconSize, kIconSize};
            xcb_configure_window(c, icon.window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
            xcb_map_window(c, icon.window);
            xcb_map_window(c, icon.container);
            // An embedder tells the embedded client so; toolkits wait for it before they treat the window as docked.
            xcb_client_message_event_t embedded{};
            embedded.response_type = XCB_CLIENT_MESSAGE;
            embedded.format = 32;
            embedded.window = icon.window;
            embedded.type = m_xembed;
            embedded.data.data32[0] = XCB_CURRENT_TIME;
            embedded.data.data32[1] = kEmbeddedNotify;
            embedded.data.data32[3] = icon.container;
            embedded.data.data32[4] = 0;
            xcb_send_event(c, 0, icon.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&embedded));
            xcb_flush(c);
            const std::scoped_lock lock(m_mutex);
            m_icon = icon;
            return;
        }
        case XCB_MAP_NOTIFY: {
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            const std::scoped_lock lock(m_mutex);
            if (m_icon && map->window == m_icon->window && !m_icon->shown) {
                m_icon->shown = Clock::now();
            }
            return;
        }
        default:
            return;
        }
    }

    std::optional<platform::x11::XcbConnection> m_connection;
    xcb_window_t m_root = XCB_NONE;
    xcb_window_t m_manager = XCB_NONE;
    xcb_atom_t m_selection = XCB_NONE;
    xcb_atom_t m_opcode = XCB_NONE;
    xcb_atom_t m_xembed = XCB_NONE;
    std::string m_error;
    mutable std::mutex m_mutex;
    std::optional<Icon> m_icon;
    std::jthread m_thread;
};

} // namespace norik::tests
