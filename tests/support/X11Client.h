// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <QByteArray>
#include <QList>
#include <iterator>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include "core/shortcuts/KeyTable.h"
#include "platform/x11/XcbHandles.h"

namespace norik::tests {

inline xcb_keycode_t x11KeyCode(core::shortcuts::Key key) {
    return static_cast<xcb_keycode_t>(core::shortcuts::xkbKeyCode(key).value());
}

inline std::vector<xcb_keycode_t> x11KeyCodes(const std::vector<core::shortcuts::Key>& keys) {
    std::vector<xcb_keycode_t> codes;
    std::ranges::transform(keys, std::back_inserter(codes), x11KeyCode);
    return codes;
}

// What a test does as one more client of an X server, on a connection it does not own: name atoms, read window
// properties, send the messages a panel or a tray sends, type keys as a keyboard does, and probe key grabs.
class X11Client {
public:
    explicit X11Client(xcb_connection_t* connection = nullptr)
        : m_c(connection), m_root(connection != nullptr ? platform::x11::rootWindow(connection, 0) : XCB_NONE) {}

    [[nodiscard]] xcb_connection_t* connection() const { return m_c; }
    [[nodiscard]] xcb_window_t root() const { return m_root; }
    [[nodiscard]] xcb_atom_t atom(const char* name) const { return platform::x11::internAtom(m_c, name); }

    // A property's contents, whatever its type; empty when the window has no such property.
    [[nodiscard]] QByteArray bytes(xcb_window_t window, const char* property) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
        return reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                  xcb_get_property_value_length(reply.get()))
                     : QByteArray();
    }
    // A property of 32-bit values: windows, atoms or cardinals.
    [[nodiscard]] QList<std::uint32_t> values(xcb_window_t window, const char* property) const {
        const QByteArray raw = bytes(window, property);
        const auto* first = reinterpret_cast<const std::uint32_t*>(raw.constData());
        return {first, first + raw.size() / 4};
    }
    // The first of them; XCB_NONE when there is none.
    [[nodiscard]] std::uint32_t value(xcb_window_t window, const char* property) const {
        return values(window, property).value(0, XCB_NONE);
    }

    // A client message about `window`, delivered at `destination` to the clients that select `mask` there.
    void send(xcb_window_t destination, std::uint32_t mask, xcb_window_t window, xcb_atom_t type,
              const std::array<std::uint32_t, 5>& data) const {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = type;
        std::ranges::copy(data, std::begin(message.data.data32));
        xcb_send_event(m_c, 0, destination, mask, reinterpret_cast<const char*>(&message));
        xcb_flush(m_c);
    }

    // Presses the keys in order, or releases them in reverse order. Through XTEST's own keyboard, or with
    // `onKeyboard` through the server's keyboard device, where they count as the user's own keys; false when the
    // server has no such device.
    bool press(const std::vector<xcb_keycode_t>& keys, bool down = true, bool onKeyboard = false) const {
        std::uint8_t type = down ? XCB_KEY_PRESS : XCB_KEY_RELEASE;
        const std::uint8_t device = onKeyboard ? keyboardDevice() : 0;
        if (onKeyboard && device == 0) {
            return false;
        }
        if (onKeyboard) {
            type = static_cast<std::uint8_t>(xcb_get_extension_data(m_c, &xcb_input_id)->first_event +
                                             (down ? XCB_INPUT_DEVICE_KEY_PRESS : XCB_INPUT_DEVICE_KEY_RELEASE));
        }
        for (std::size_t index = 0; index < keys.size(); ++index) {
            xcb_test_fake_input(m_c, type, keys[down ? index : keys.size() - 1 - index], XCB_CURRENT_TIME, XCB_NONE, 0,
                                0, device);
        }
        xcb_flush(m_c);
        return true;
    }
    void tap(const std::vector<xcb_keycode_t>& keys) const {
        press(keys);
        press(keys, false);
    }

    // Moves the pointer to a point of `window` (the root window's when XCB_NONE), as a mouse does.
    void point(xcb_window_t window, std::int16_t x, std::int16_t y) const {
        const platform::x11::XcbReply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, window == XCB_NONE ? m_root : window, m_root, x, y), nullptr));
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, at ? at->dst_x : x, at ? at->dst_y : y,
                            0);
        xcb_flush(m_c);
    }

    // Clicks `button` `times` times at a point of `window`.
    void click(xcb_window_t window, std::int16_t x, std::int16_t y, std::uint8_t button = 1, int times = 1) const {
        point(window, x, y);
        for (int click = 0; click < times; ++click) {
            xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
            xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        xcb_flush(m_c);
    }

    // Whether this client could grab the key. The grab and its release go out together and are both handled when
    // this returns, so a probe neither outlives the call nor holds the key for longer than one batch of requests.
    [[nodiscard]] bool canGrab(xcb_keycode_t key, std::uint16_t modifiers) const {
        const xcb_void_cookie_t grab =
            xcb_grab_key_checked(m_c, 1, m_root, modifiers, key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_ungrab_key(m_c, key, m_root, modifiers);
        return !platform::x11::XcbReply<xcb_generic_error_t>(xcb_request_check(m_c, grab));
    }

protected:
    xcb_connection_t* m_c;
    xcb_window_t m_root;

private:
    // The server's own keyboard rather than the virtual XTEST keyboard beside it; 0 without XInput 2.
    [[nodiscard]] std::uint8_t keyboardDevice() const {
        const platform::x11::XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(m_c, xcb_input_xi_query_version(m_c, 2, 2), nullptr));
        const platform::x11::XcbReply<xcb_input_xi_query_device_reply_t> devices(
            xcb_input_xi_query_device_reply(m_c, xcb_input_xi_query_device(m_c, XCB_INPUT_DEVICE_ALL), nullptr));
        if (!version || !devices) {
            return 0;
        }
        for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem != 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string name(xcb_input_xi_device_info_name(it.data),
                                   static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && !name.contains("XTEST")) {
                return static_cast<std::uint8_t>(it.data->deviceid);
            }
        }
        return 0;
    }
};

} // namespace norik::tests
