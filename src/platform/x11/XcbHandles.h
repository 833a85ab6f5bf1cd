// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <expected>
#include <memory>
#include <string>
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

// The root window of a screen of the connection; XCB_NONE when there is no such screen.
[[nodiscard]] xcb_window_t rootWindow(xcb_connection_t* connection, int screenNumber);

} // namespace norik::platform::x11
