// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QEvent>
#include <QObject>
#include <QSet>

namespace norik::app {

// Watches the application's own events of the given types, for every object, from start() until it is
// destroyed. The callback returns whether the event goes on to its target; false swallows it.
class LocalEventMonitor final : public QObject {
public:
    using Callback = std::function<bool(QObject* target, QEvent* event)>;

    LocalEventMonitor(QSet<QEvent::Type> events, Callback callback);
    ~LocalEventMonitor() override;

    void start();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<QEvent::Type> m_events;
    Callback m_callback;
    bool m_started = false;
};

} // namespace norik::app
