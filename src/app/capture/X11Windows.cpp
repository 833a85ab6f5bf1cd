// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11Windows.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "platform/x11/XcbHandles.h"

namespace norik::app {

using platform::x11::internAtom;
using platform::x11::XcbReply;

namespace {

// Window manager ACTIVE_WINDOW source indication "pager": window managers honour it without focus-stealing
// checks, which is right for a focus the user had a moment ago.
constexpr std::uint32_t sourcePager = 2;

} // namespace

X11Windows::X11Windows(xcb_connection_t* connection, xcb_window_t root)
    : m_connection(connection), m_root(root), m_activeWindowAtom(internAtom(connection, "_NET_ACTIVE_WINDOW")),
      m_primaryAtom(XCB_ATOM_PRIMARY) {}

FocusedWindow X11Windows::focusedWindow() const {
    const XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, m_root, m_activeWindowAtom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (property && property->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(property.get()) == 4) {
        xcb_window_t window = XCB_NONE;
        std::memcpy(&window, xcb_get_property_value(property.get()), sizeof window);
        if (window != XCB_NONE) {
            return {window, true};
        }
    }
    const XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (!focus || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus->focus == XCB_NONE) {
        return {};
    }
    return {focus->focus, false};
}

QByteArray X11Windows::windowClass(xcb_window_t window) const {
    constexpr std::uint32_t maxWords = 256;
    const XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, maxWords),
        nullptr));
    if (!property || property->format != 8) {
        return {};
    }
    // Two NUL-terminated strings: the instance name, then the class.
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(property.get())),
                           xcb_get_property_value_length(property.get()));
    const auto separator = value.indexOf('\0');
    if (separator < 0) {
        return {};
    }
    const QByteArray rest = value.mid(separator + 1);
    const auto end = rest.indexOf('\0');
    return end < 0 ? rest : rest.left(end);
}

void X11Windows::activate(const FocusedWindow& target) const {
    if (target.window == XCB_NONE) {
        return;
    }
    if (!target.managed) {
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, target.window, XCB_CURRENT_TIME);
        xcb_flush(m_connection);
        return;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = target.window;
    message.type = m_activeWindowAtom;
    message.data.data32[0] = sourcePager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(m_connection);
}

bool X11Windows::ownsPrimary(xcb_window_t window) const {
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, m_primaryAtom), nullptr));
    if (!owner || owner->owner == XCB_NONE || window == XCB_NONE) {
        return false;
    }
    // The server hands each client its own range of resource ids: the bits outside the mask name the client.
    const std::uint32_t client = ~xcb_get_setup(m_connection)->resource_id_mask;
    return (owner->owner & client) == (window & client);
}

bool answersFromPrimary(QByteArrayView windowClass) {
    static constexpr auto terminals = std::to_array<std::string_view>({
        "alacritty",
        "aterm",
        "blackbox",
        "com.gexperts.tilix",
        "com.mitchellh.ghostty",
        "com.raggesilver.blackbox",
        "contour",
        "cool-retro-term",
        "deepin-terminal",
        "emacs",
        "eterm",
        "foot",
        "footclient",
        "ghostty",
        "gnome-terminal",
        "gnome-terminal-server",
        "guake",
        "gvim",
        "hyper",
        "io.elementary.terminal",
        "kgx",
        "kitty",
        "konsole",
        "lxterminal",
        "mate-terminal",
        "mlterm",
        "org.gnome.console",
        "org.gnome.ptyxis",
        "org.gnome.terminal",
        "org.kde.konsole",
        "org.kde.yakuake",
        "org.wezfurlong.wezterm",
        "ptyxis",
        "qterminal",
        "roxterm",
        "rxvt",
        "sakura",
        "st",
        "st-256color",
        "tabby",
        "terminator",
        "terminology",
        "termite",
        "tilda",
        "tilix",
        "urxvt",
        "uxterm",
        "wezterm",
        "xfce4-terminal",
        "xterm",
        "yakuake",
    });
    const QByteArray lower = windowClass.toByteArray().toLower();
    const std::string_view name(lower.constData(), static_cast<std::size_t>(lower.size()));
    return std::ranges::find(terminals, name) != terminals.end();
}

} // namespace norik::app
