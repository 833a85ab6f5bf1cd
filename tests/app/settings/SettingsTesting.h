// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QString>
#include <QTest>
#include <QThreadPool>
#include <ostream>

// Found by GoogleTest through the argument's namespace, so that a failed comparison prints the text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace norik::app::testing {

// Runs the event loop until `condition` holds; generous, since listings go through real sockets on a busy machine.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// Waits for every listing worker to end and delivers what they posted to the main thread, so that a result
// which should have been dropped would have arrived by now.
inline bool settleWorkers() {
    const bool done = QThreadPool::globalInstance()->waitForDone(10'000);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return done;
}

} // namespace norik::app::testing
