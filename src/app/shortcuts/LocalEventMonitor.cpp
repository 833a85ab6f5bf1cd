// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/LocalEventMonitor.h"

#include <utility>

#include <QCoreApplication>

namespace norik::app {

LocalEventMonitor::LocalEventMonitor(QSet<QEvent::Type> events, Callback callback)
    : m_events(std::move(events)), m_callback(std::move(callback)) {}

LocalEventMonitor::~LocalEventMonitor() {
    if (m_started && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

void LocalEventMonitor::start() {
    if (!m_started && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->installEventFilter(this);
        m_started = true;
    }
}

bool LocalEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (m_events.contains(event->type()) && m_callback) {
        return !m_callback(watched, event);
    }
    return false;
}

} // namespace norik::app
