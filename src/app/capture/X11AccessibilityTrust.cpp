// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11AccessibilityTrust.h"

#include <utility>

#include <QGuiApplication>
#include <QtGlobal>
#include <xcb/xtest.h>

namespace norik::app {

X11AccessibilityTrust::X11AccessibilityTrust(xcb_connection_t* connection, Explain explain)
    : m_connection(connection), m_explain(std::move(explain)) {
    if (!m_explain) {
        m_explain = [](const QString& message) { qWarning("%s", qUtf8Printable(message)); };
    }
}

std::unique_ptr<X11AccessibilityTrust> X11AccessibilityTrust::forApplication(Explain explain) {
    const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return nullptr;
    }
    return std::make_unique<X11AccessibilityTrust>(x11->connection(), std::move(explain));
}

bool X11AccessibilityTrust::isTrusted() {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(m_connection, &xcb_test_id);
    return extension != nullptr && extension->present != 0;
}

void X11AccessibilityTrust::requestTrust() {
    if (isTrusted()) {
        return;
    }
    m_explain(QStringLiteral("Norik cannot copy the selection: the X server does not offer the XTEST extension, "
                             "which it needs to press Ctrl+C for you. Start the X server with XTEST enabled "
                             "(it is on by default) and try again."));
}

} // namespace norik::app
