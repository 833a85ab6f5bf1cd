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

#include "app/QtWait.h"

namespace norik::app::testing {

using norik::tests::waitUntil;

// Waits for every listing worker to end and delivers what they posted to the main thread, so that a result
// which should have been dropped would have arrived by now.
inline bool settleWorkers() {
    const bool done = QThreadPool::globalInstance()->waitForDone(10'000);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return done;
}

} // namespace norik::app::testing
