// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance/X11Launch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

namespace norik::app {

namespace {

// _NET_ACTIVE_WINDOW's source indication for a request on the user's behalf by an application.
constexpr std::uint32_t kFromApplication = 1;
// Startup notification messages go out in pieces of this many bytes.
constexpr std::size_t kPieceSize = 20;

void activate(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, std::uint32_t time) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = platform::x11::internAtom(connection, "_NET_ACTIVE_WINDOW");
    message.data.data32[0] = kFromApplication;
    message.data.data32[1] = time;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
}

// "remove: ID=…", which ends the launcher's busy cursor, sent to the root in pieces with the final NUL.
void completeLaunch(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, const QByteArray& id) {
    QByteArray text = "remove: ID=\"";
    for (const char c : id) {
        if (c == '"' || c == '\\') {
            text += '\\';
        }
        text += c;
    }
    text += '"';
    text += '\0';
    const xcb_atom_t begin = platform::x11::internAtom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = platform::x11::internAtom(connection, "_NET_STARTUP_INFO");
    for (qsizetype offset = 0; offset < text.size(); offset += kPieceSize) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 8;
        message.window = window;
        message.type = offset == 0 ? begin : more;
        const auto piece = std::min<qsizetype>(kPieceSize, text.size() - offset);
        std::memcpy(message.data.data8, text.constData() + offset, static_cast<std::size_t>(piece));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&message));
    }
}

} // namespace

std::optional<std::uint32_t> launchTime(const QByteArray& startupId) {
    const qsizetype at = startupId.lastIndexOf("_TIME");
    if (at < 0) {
        return std::nullopt;
    }
    bool number = false;
    const auto time = startupId.mid(at + 5).toUInt(&number);
    return number ? std::optional<std::uint32_t>(time) : std::nullopt;
}

void activateAsOf(const QWidget& window, std::uint32_t time) {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || time == XCB_CURRENT_TIME) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    activate(connection, platform::x11::rootWindow(connection, 0), static_cast<xcb_window_t>(window.winId()), time);
    xcb_flush(connection);
}

void showForLaunch(QWidget& window, const QByteArray& startupId, const std::function<void()>& show) {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (startupId.isEmpty() || connection == nullptr) {
        show();
        return;
    }
    const bool wasUp = window.isVisible();
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    // Read by the window manager when the window maps.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, platform::x11::internAtom(connection, "_NET_STARTUP_ID"),
                        platform::x11::internAtom(connection, "UTF8_STRING"), 8,
                        static_cast<std::uint32_t>(startupId.size()), startupId.constData());
    show();
    if (const auto time = launchTime(startupId); wasUp && time) {
        activate(connection, screen->root, id, *time);
    }
    completeLaunch(connection, screen->root, id, startupId);
    xcb_flush(connection);
}

} // namespace norik::app
