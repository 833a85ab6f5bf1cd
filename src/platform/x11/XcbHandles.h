// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <xcb/xcb.h>

namespace norik::platform::x11 {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

// xcb replies and errors are malloc'ed and owned by the caller.
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

// An owned connection to an X server, disconnected on destruction.
class XcbConnection {
public:
    // `display` as in $DISPLAY; null takes $DISPLAY itself.
    [[nodiscard]] static std::expected<XcbConnection, std::string> open(const char* display);

    XcbConnection(XcbConnection&& other) noexcept
        : m_connection(std::exchange(other.m_connection, nullptr)), m_screen(other.m_screen) {}
    XcbConnection& operator=(XcbConnection&& other) noexcept;
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;
    ~XcbConnection();

    [[nodiscard]] xcb_connection_t* get() const { return m_connection; }
    [[nodiscard]] int screenNumber() const { return m_screen; }

private:
    XcbConnection(xcb_connection_t* connection, int screen) : m_connection(connection), m_screen(screen) {}

    xcb_connection_t* m_connection = nullptr;
    int m_screen = 0;
};

// The atom of `name`, asked of the server with a round trip; XCB_ATOM_NONE when the server has none or, with
// `onlyIfExists`, when no client has made it yet.
[[nodiscard]] xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name, bool onlyIfExists = false);

// The root window of a screen of the connection; XCB_NONE when there is no such screen.
[[nodiscard]] xcb_window_t rootWindow(xcb_connection_t* connection, int screenNumber);

} // namespace norik::platform::x11
