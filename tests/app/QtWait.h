// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

#include <QTest>

namespace norik::tests {

// Runs the event loop until `condition` holds; false when the time-out ran out first. Generous by default: a
// loaded two-core machine with sanitizers may take seconds to paint or to answer over a socket.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

} // namespace norik::tests
