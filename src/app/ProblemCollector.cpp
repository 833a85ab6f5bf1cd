// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProblemCollector.h"

#include <QPointer>

namespace norik::app {

namespace {

QString path(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
}

} // namespace

ProblemCollector::ProblemCollector() {
    core::setProblemSink([self = QPointer(this)](const core::Problem& problem) {
        QMetaObject::invokeMethod(
            self,
            [self, text = sentence(problem)] {
                if (self) {
                    self->add(text);
                }
            },
            Qt::QueuedConnection);
    });
}

ProblemCollector::~ProblemCollector() {
    core::setProblemSink({});
}

QString ProblemCollector::sentence(const core::Problem& problem) {
    const QString detail = QString::fromStdString(problem.detail);
    switch (problem.kind) {
    case core::Problem::Kind::historyUnavailable:
        return QStringLiteral("History is unavailable, so reviews are not remembered: %1 (%2).")
            .arg(path(problem.file), detail);
    case core::Problem::Kind::historyFailed:
        return QStringLiteral("A review could not be kept in the history: %1 (%2).").arg(path(problem.file), detail);
    case core::Problem::Kind::keysUnencrypted:
        return QStringLiteral("No keyring answers, so API keys are stored unencrypted in %1.").arg(path(problem.file));
    case core::Problem::Kind::fileSetAside:
        return QStringLiteral("%1 was damaged, so Norik set it aside as %2 and started afresh.")
            .arg(path(problem.file), detail);
    }
    return QString::fromStdString(problem.line);
}

void ProblemCollector::add(const QString& sentence) {
    if (m_problems.contains(sentence)) {
        return;
    }
    m_problems.append(sentence);
    emit added(sentence);
}

} // namespace norik::app
