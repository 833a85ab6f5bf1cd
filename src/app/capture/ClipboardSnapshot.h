// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

class QMimeData;

namespace norik::app {

// A deep copy of every format a clipboard owner offers, so the contents can be written back after the
// owner has lost the clipboard.
class ClipboardSnapshot {
public:
    // Reads each offered format's bytes; formats that are X11 protocol targets or Qt's own bookkeeping are
    // left out. Null data gives an empty snapshot.
    [[nodiscard]] static ClipboardSnapshot take(const QMimeData* data);
    // Whether a format holds contents, rather than being an X11 protocol target or Qt's own bookkeeping.
    [[nodiscard]] static bool isContents(const QString& format);

    // Keeps the bytes of a format that isContents() accepts; null bytes stand for a format not delivered.
    void add(const QString& format, QByteArray bytes);

    [[nodiscard]] bool empty() const { return m_formats.empty(); }
    // Marked by a password manager as a secret it will clear on its own.
    [[nodiscard]] bool isSecret() const;
    [[nodiscard]] const std::vector<std::pair<QString, QByteArray>>& formats() const { return m_formats; }
    [[nodiscard]] std::unique_ptr<QMimeData> toMimeData() const;

private:
    std::vector<std::pair<QString, QByteArray>> m_formats;
};

} // namespace norik::app
