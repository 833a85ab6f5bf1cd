// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace norik::app {

// The small window that answers "Check for Updates…". Not modal: it never stops the tray menu or a review.
// Every show…() replaces the whole answer. Main thread only.
class UpdateDialog final : public QDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(QString installedVersion, QWidget* parent = nullptr);

    void showChecking();
    void showUpToDate();
    // The button opens `page` in the browser and closes the dialog. `notes` are shown as plain text.
    void showNewerVersion(const QString& version, const QUrl& page, const QString& notes);
    void showUnreachable(const QString& reason);
    void showNoFeed();

private:
    void showAnswer(const QString& message, const QString& details, const QUrl& page = {});

    QString m_installedVersion;
    QUrl m_page;
    QLabel* m_message = nullptr;
    QLabel* m_details = nullptr;
    QPushButton* m_openPage = nullptr;
};

} // namespace norik::app
