// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

#include <QTest>
#include <QThreadPool>

namespace norik::tests {

// Runs the event loop until `condition` holds; false when the time-out ran out first. Generous by default: a
// loaded two-core machine with sanitizers may take seconds to paint or to answer over a socket.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

// Waits for every worker of the global thread pool and delivers what they posted, so that a result which should
// have been dropped would have arrived by now; false when the workers outlasted the time-out.
inline bool settleWorkers() {
    const bool done = QThreadPool::globalInstance()->waitForDone(30'000);
    QCoreApplication::sendPostedEvents();
    return done;
}

} // namespace norik::tests
