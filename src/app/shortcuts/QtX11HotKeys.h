// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <QAbstractNativeEventFilter>

#include "platform/x11/X11HotKeyBackend.h"

namespace norik::app {

// The X11 hot keys of a running Qt application: the backend works on Qt's own X connection, where the
// grabbed keys arrive, and a native event filter feeds it every event. The filter never consumes an event,
// so Qt still sees the keyboard and keymap events it needs. Lives on the main thread, after QApplication.
class QtX11HotKeys final : public QAbstractNativeEventFilter {
public:
    // Fails when the application does not run on X11 (the xcb platform plugin).
    [[nodiscard]] static std::expected<std::unique_ptr<QtX11HotKeys>, std::string> create();
    QtX11HotKeys(const QtX11HotKeys&) = delete;
    QtX11HotKeys& operator=(const QtX11HotKeys&) = delete;
    ~QtX11HotKeys() override;

    [[nodiscard]] platform::x11::X11HotKeyBackend& backend() { return *m_backend; }
    // Told the X server time of every key press Qt's connection receives, a hot key's among them, before the
    // hot key acts on it: the moment of the user's action that the window it shows answers. A held key's
    // repeats are the same action and are not told.
    void setPressListener(std::function<void(std::uint32_t time)> listener) { m_onPress = std::move(listener); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    explicit QtX11HotKeys(std::unique_ptr<platform::x11::X11HotKeyBackend> backend);

    std::unique_ptr<platform::x11::X11HotKeyBackend> m_backend;
    std::function<void(std::uint32_t)> m_onPress;
    // The key pressed last while no release has come since; 0 for none. Qt asks for detectable auto-repeat,
    // so a repeat is a press of that same key.
    xcb_keycode_t m_heldKey = 0;
};

} // namespace norik::app
