// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/QtX11HotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace norik::app {

std::expected<std::unique_ptr<QtX11HotKeys>, std::string> QtX11HotKeys::create() {
    auto* application = qGuiApp;
    auto* x11 = application != nullptr ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return std::unexpected("the application does not run on an X server");
    }
    // Qt's connection is for its default screen, the first one.
    auto backend = platform::x11::X11HotKeyBackend::create(x11->connection(), 0);
    if (!backend) {
        return std::unexpected(backend.error());
    }
    std::unique_ptr<QtX11HotKeys> hotKeys(new QtX11HotKeys(*std::move(backend)));
    QCoreApplication::instance()->installNativeEventFilter(hotKeys.get());
    return hotKeys;
}

QtX11HotKeys::QtX11HotKeys(std::unique_ptr<platform::x11::X11HotKeyBackend> backend) : m_backend(std::move(backend)) {}

QtX11HotKeys::~QtX11HotKeys() {
    if (auto* application = QCoreApplication::instance()) {
        application->removeNativeEventFilter(this);
    }
}

bool QtX11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType == "xcb_generic_event_t") {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto& key = *reinterpret_cast<const xcb_key_press_event_t*>(event);
            if (type == XCB_KEY_PRESS && key.detail != m_heldKey && m_onPress) {
                m_onPress(key.time);
            }
            m_heldKey = type == XCB_KEY_PRESS ? key.detail : 0;
        }
        m_backend->handleEvent(event);
    }
    return false;
}

} // namespace norik::app
