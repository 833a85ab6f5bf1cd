// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "core/log/Problems.h"

namespace norik::app {

// The tray app's end of the core's problem reports: each distinct problem once, as a sentence for the user,
// kept for the settings window. While it lives it is the core's sink; reports from any thread arrive on the
// main thread.
class ProblemCollector final : public QObject {
    Q_OBJECT

public:
    ProblemCollector();
    ~ProblemCollector() override;
    ProblemCollector(const ProblemCollector&) = delete;
    ProblemCollector& operator=(const ProblemCollector&) = delete;

    [[nodiscard]] static QString sentence(const core::Problem& problem);
    [[nodiscard]] const QStringList& problems() const { return m_problems; }

signals:
    // A problem not told before.
    void added(const QString& sentence);

private:
    void add(const QString& sentence);

    QStringList m_problems;
};

} // namespace norik::app
