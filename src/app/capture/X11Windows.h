// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <xcb/xcb.h>

namespace norik::app {

// The window the user works in, as the window manager (EWMH) or, without one, the X server sees it.
struct FocusedWindow {
    xcb_window_t window = XCB_NONE;
    // True when the window manager reported it; then only the window manager may move the focus.
    bool managed = false;
};

// Window-manager queries on a borrowed connection.
class X11Windows {
public:
    X11Windows(xcb_connection_t* connection, xcb_window_t root);

    [[nodiscard]] FocusedWindow focusedWindow() const;
    // The class part of WM_CLASS ("XTerm" for xterm); empty when the window has none.
    [[nodiscard]] QByteArray windowClass(xcb_window_t window) const;
    // Asks the window manager to activate the window, or focuses it directly when there is none.
    void activate(const FocusedWindow& target) const;
    // Whether the PRIMARY selection is owned by the X client that made `window`: a selection made there
    // rather than one left over from another application.
    [[nodiscard]] bool ownsPrimary(xcb_window_t window) const;

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    xcb_atom_t m_activeWindowAtom = XCB_NONE;
    xcb_atom_t m_primaryAtom = XCB_NONE;
};

// Whether a WM_CLASS class names an application where Ctrl+C is not Copy (a terminal emulator, where it
// interrupts the running program, or an editor where it starts a key sequence), so that its selection is
// read from PRIMARY instead. Case-insensitive.
[[nodiscard]] bool answersFromPrimary(QByteArrayView windowClass);

} // namespace norik::app
