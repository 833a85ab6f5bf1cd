// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/XcbHandles.h"

namespace norik::platform::x11 {

std::expected<XcbConnection, std::string> XcbConnection::open(const char* display) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (const int error = xcb_connection_has_error(connection); error != 0) {
        xcb_disconnect(connection);
        // Appended piecewise: GCC 12 at -O3 misreads a chain of string concatenations (-Wrestrict).
        std::string message = "cannot connect to the X server ";
        message.append(display != nullptr ? display : "$DISPLAY");
        message.append(" (xcb error ").append(std::to_string(error)).append(")");
        return std::unexpected(message);
    }
    return XcbConnection(connection, screen);
}

XcbConnection& XcbConnection::operator=(XcbConnection&& other) noexcept {
    if (this != &other) {
        XcbConnection released(std::move(*this));
        m_connection = std::exchange(other.m_connection, nullptr);
        m_screen = other.m_screen;
    }
    return *this;
}

XcbConnection::~XcbConnection() {
    if (m_connection != nullptr) {
        xcb_disconnect(m_connection);
    }
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name, bool onlyIfExists) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, onlyIfExists ? 1 : 0, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t rootWindow(xcb_connection_t* connection, int screenNumber) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int index = 0; screens.rem > 0; ++index, xcb_screen_next(&screens)) {
        if (index == screenNumber) {
            return screens.data->root;
        }
    }
    return XCB_NONE;
}

} // namespace norik::platform::x11
