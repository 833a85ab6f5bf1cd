// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/ClipboardSnapshot.h"

#include <algorithm>
#include <array>

#include <QMimeData>

namespace norik::app {

namespace {

const QString passwordManagerHint = QStringLiteral("x-kde-passwordManagerHint");

// Protocol targets rather than contents. DELETE and the INSERT_* targets are requests: converting them
// would make the owner delete or replace the user's selection.
bool isProtocolTarget(const QString& format) {
    static const std::array<QString, 8> targets{
        QStringLiteral("TARGETS"),         QStringLiteral("TIMESTAMP"),
        QStringLiteral("SAVE_TARGETS"),    QStringLiteral("MULTIPLE"),
        QStringLiteral("DELETE"),          QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"), QStringLiteral("CLIPBOARD_MANAGER"),
    };
    return std::ranges::find(targets, format) != targets.end() || format.startsWith(QLatin1String("application/x-qt-"));
}

} // namespace

ClipboardSnapshot ClipboardSnapshot::take(const QMimeData* data) {
    ClipboardSnapshot snapshot;
    if (data == nullptr) {
        return snapshot;
    }
    for (const QString& format : data->formats()) {
        if (isContents(format)) {
            snapshot.add(format, data->data(format));
        }
    }
    return snapshot;
}

bool ClipboardSnapshot::isContents(const QString& format) {
    return !isProtocolTarget(format);
}

void ClipboardSnapshot::add(const QString& format, QByteArray bytes) {
    // An owner that promised a format and cannot deliver it gives nothing; such a format is lost.
    if (isContents(format) && !bytes.isNull()) {
        m_formats.emplace_back(format, std::move(bytes));
    }
}

bool ClipboardSnapshot::isSecret() const {
    return std::ranges::any_of(m_formats, [](const auto& entry) {
        return entry.first == passwordManagerHint && entry.second.trimmed() == "secret";
    });
}

std::unique_ptr<QMimeData> ClipboardSnapshot::toMimeData() const {
    auto data = std::make_unique<QMimeData>();
    for (const auto& [format, bytes] : m_formats) {
        data->setData(format, bytes);
    }
    return data;
}

} // namespace norik::app
