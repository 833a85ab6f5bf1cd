// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/GlobalKeyMonitor.h"

#include <algorithm>
#include <array>
#include <utility>

#include <QSocketNotifier>
#include <xcb/xinput.h>

namespace norik::app {
namespace {

using platform::x11::XcbReply;

std::optional<std::uint16_t> deviceId(xcb_connection_t* connection, std::string_view name) {
    const XcbReply<xcb_input_xi_query_device_reply_t> reply(xcb_input_xi_query_device_reply(
        connection, xcb_input_xi_query_device(connection, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    for (auto it = xcb_input_xi_query_device_infos_iterator(reply.get()); it.rem > 0;
         xcb_input_xi_device_info_next(&it)) {
        const std::string_view deviceName(xcb_input_xi_device_info_name(it.data),
                                          static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
        if (deviceName == name) {
            return it.data->deviceid;
        }
    }
    return std::nullopt;
}

} // namespace

std::expected<std::unique_ptr<GlobalKeyMonitor>, std::string> GlobalKeyMonitor::create(const char* display,
                                                                                       xcb_keysym_t keysym,
                                                                                       std::function<void()> onPress,
                                                                                       std::string_view ignoredDevice) {
    auto connection = platform::x11::XcbConnection::open(display);
    if (!connection) {
        return std::unexpected(connection.error());
    }
    xcb_connection_t* c = connection->get();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension == nullptr || extension->present == 0) {
        return std::unexpected("the X server has no XInput extension");
    }
    // Raw events reach the root window whatever grabs other clients hold only from XInput 2.2 on.
    const XcbReply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 2)) {
        return std::unexpected("the X server lacks XInput 2.2");
    }
    const std::optional<std::uint16_t> ignored = deviceId(c, ignoredDevice);
    std::unique_ptr<GlobalKeyMonitor> monitor(
        new GlobalKeyMonitor(*std::move(connection), extension->major_opcode, keysym, std::move(onPress), ignored));
    if (monitor->m_root == XCB_NONE) {
        return std::unexpected("the X server has no screen for the connection");
    }
    return monitor;
}

GlobalKeyMonitor::GlobalKeyMonitor(platform::x11::XcbConnection connection, std::uint8_t xinputOpcode,
                                   xcb_keysym_t keysym, std::function<void()> onPress,
                                   std::optional<std::uint16_t> ignoredDeviceId)
    : m_connection(std::move(connection)),
      m_root(platform::x11::rootWindow(m_connection.get(), m_connection.screenNumber())), m_xinputOpcode(xinputOpcode),
      m_keysym(keysym), m_onPress(std::move(onPress)), m_ignoredDeviceId(ignoredDeviceId),
      m_notifier(new QSocketNotifier(xcb_get_file_descriptor(m_connection.get()), QSocketNotifier::Read, this)) {
    connect(m_notifier, &QSocketNotifier::activated, this, &GlobalKeyMonitor::readEvents);
}

GlobalKeyMonitor::~GlobalKeyMonitor() {
    // The notifier must not outlive the connection whose socket it watches.
    delete m_notifier;
}

// Asked at each press rather than cached: presses are few while the monitor is active, and the answer is
// then never older than the keymap.
bool GlobalKeyMonitor::types(xcb_keycode_t keyCode) const {
    xcb_connection_t* c = m_connection.get();
    const XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, keyCode, 1), nullptr));
    if (!mapping) {
        return false;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int count = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    return std::find(keysyms, keysyms + count, m_keysym) != keysyms + count;
}

void GlobalKeyMonitor::setActive(bool active) {
    if (active == m_active) {
        return;
    }
    xcb_connection_t* c = m_connection.get();
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, active ? std::uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS} : 0U};
    const XcbReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, m_root, 1, &selection.head)));
    m_active = active && !error;
    // Waiting for the check may have queued events that the socket no longer announces. Later, not here: this
    // may run from onPress, inside readEvents().
    QMetaObject::invokeMethod(this, &GlobalKeyMonitor::readEvents, Qt::QueuedConnection);
}

void GlobalKeyMonitor::readEvents() {
    xcb_connection_t* c = m_connection.get();
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        handle(event.get());
    }
    if (xcb_connection_has_error(c) != 0) {
        // A dead connection would keep its socket readable forever.
        m_notifier->setEnabled(false);
        m_active = false;
    }
}

void GlobalKeyMonitor::handle(const xcb_generic_event_t* event) {
    if (!m_active || (event->response_type & 0x7f) != XCB_GE_GENERIC) {
        return;
    }
    const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
    if (generic->extension != m_xinputOpcode || generic->event_type != XCB_INPUT_RAW_KEY_PRESS) {
        return;
    }
    const auto* press = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
    if ((m_ignoredDeviceId && press->sourceid == *m_ignoredDeviceId) ||
        !types(static_cast<xcb_keycode_t>(press->detail))) {
        return;
    }
    m_onPress();
}

} // namespace norik::app
