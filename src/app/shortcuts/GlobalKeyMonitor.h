// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QObject>
#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

class QSocketNotifier;

namespace norik::app {

// Watches one key on the whole desktop through XInput2 raw key events on the root window. The key is named by
// its keysym and looked up in the keymap at each press, so a remapped key counts (Caps Lock made Escape). Raw events
// are copies: the key still reaches the focused application and no grab is taken. The monitor talks on an X connection
// of its own, so its event selection cannot disturb the one Qt makes on the root window. Keys from the ignored device
// (by default the XTEST keyboard, where this process's own synthetic keys come from) never count. Main thread only,
// after QCoreApplication.
class GlobalKeyMonitor final : public QObject {
    Q_OBJECT
public:
    static constexpr std::string_view kXTestKeyboard = "Virtual core XTEST keyboard";

    // `display` as in $DISPLAY, null for $DISPLAY itself. `onPress` runs on the main thread for each press
    // of a key that types `keysym` in any group or level while the monitor is active. Fails without an X
    // server or without XInput 2.2.
    [[nodiscard]] static std::expected<std::unique_ptr<GlobalKeyMonitor>, std::string>
    create(const char* display, xcb_keysym_t keysym, std::function<void()> onPress,
           std::string_view ignoredDevice = kXTestKeyboard);
    ~GlobalKeyMonitor() override;
    GlobalKeyMonitor(const GlobalKeyMonitor&) = delete;
    GlobalKeyMonitor& operator=(const GlobalKeyMonitor&) = delete;

    // Starts or stops listening; idle monitors get no key events from the server at all.
    void setActive(bool active);
    [[nodiscard]] bool isActive() const { return m_active; }

private:
    GlobalKeyMonitor(platform::x11::XcbConnection connection, std::uint8_t xinputOpcode, xcb_keysym_t keysym,
                     std::function<void()> onPress, std::optional<std::uint16_t> ignoredDeviceId);
    void readEvents();
    void handle(const xcb_generic_event_t* event);
    [[nodiscard]] bool types(xcb_keycode_t keyCode) const;

    platform::x11::XcbConnection m_connection;
    xcb_window_t m_root = XCB_NONE;
    std::uint8_t m_xinputOpcode;
    xcb_keysym_t m_keysym;
    std::function<void()> m_onPress;
    std::optional<std::uint16_t> m_ignoredDeviceId;
    QSocketNotifier* m_notifier = nullptr;
    bool m_active = false;
};

} // namespace norik::app
