// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <stop_token>
#include <string>

#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

namespace norik::platform::desktop {

// Reads the PRIMARY selection (the text the user last selected) as an X11 client with a connection and
// an unmapped window of its own, so it never competes with the toolkit for events. In GNOME's Wayland
// session XWayland hands X11 clients the primary selection of native Wayland windows too, with no X11
// window focused; there no synthetic Copy is needed, nor could one reach a Wayland window.
//
// Blocking: call it from a worker thread, one call at a time per reader.
class PrimarySelectionReader {
public:
    // Text beyond this is dropped (at a character boundary); a review takes far less.
    static constexpr std::size_t maxBytes = std::size_t{1} << 20;

    // `display` as in $DISPLAY; null takes $DISPLAY itself. Fails with the reason when the server is
    // unreachable.
    [[nodiscard]] static std::expected<PrimarySelectionReader, std::string> open(const char* display = nullptr);

    // The selected text in UTF-8; absent when nothing is selected, the owner offers no text, or it has not
    // delivered within `timeout` or before `stop` is requested.
    [[nodiscard]] std::optional<std::string> read(std::chrono::milliseconds timeout, const std::stop_token& stop = {});

    // The window the window manager reports active (_NET_ACTIVE_WINDOW); absent when none is, which is
    // the case under XWayland while a native Wayland window has the focus.
    [[nodiscard]] std::optional<xcb_window_t> activeWindow();

private:
    struct Atoms {
        xcb_atom_t utf8 = XCB_ATOM_NONE;
        xcb_atom_t incr = XCB_ATOM_NONE;
        xcb_atom_t property = XCB_ATOM_NONE;
        xcb_atom_t activeWindow = XCB_ATOM_NONE;
    };

    PrimarySelectionReader(x11::XcbConnection connection, xcb_window_t root, xcb_window_t window, Atoms atoms)
        : m_connection(std::move(connection)), m_root(root), m_window(window), m_atoms(atoms) {}
    // The next event for which `wanted` holds; null when the deadline passed, a stop was requested or the
    // connection broke.
    template <typename Predicate>
    x11::XcbReply<xcb_generic_event_t> waitFor(Predicate wanted, std::chrono::steady_clock::time_point deadline,
                                               const std::stop_token& stop);
    [[nodiscard]] std::optional<std::string> convert(xcb_atom_t target, std::chrono::steady_clock::time_point deadline,
                                                     const std::stop_token& stop);

    x11::XcbConnection m_connection;
    xcb_window_t m_root;
    xcb_window_t m_window;
    Atoms m_atoms;
};

} // namespace norik::platform::desktop
