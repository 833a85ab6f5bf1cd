// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/updates/UpdateDialog.h"

#include <utility>

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace norik::app {

UpdateDialog::UpdateDialog(QString installedVersion, QWidget* parent)
    : QDialog(parent), m_installedVersion(std::move(installedVersion)) {
    setObjectName(QStringLiteral("updateDialog"));
    setWindowTitle(tr("Norik Updates"));
    setModal(false);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    QFont emphasised = m_message->font();
    emphasised.setBold(true);
    m_message->setFont(emphasised);

    // Plain text: the details can come from a remote feed, which must not inject links or images.
    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("details"));
    m_details->setTextFormat(Qt::PlainText);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_openPage = buttons->addButton(tr("Open Download Page"), QDialogButtonBox::AcceptRole);
    m_openPage->setObjectName(QStringLiteral("openPage"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_openPage, &QPushButton::clicked, this, [this] {
        if (QDesktopServices::openUrl(m_page)) {
            accept();
            return;
        }
        // Without a browser the address is still worth having: it stays, selectable, in the dialog.
        m_details->setText(tr("No browser could be opened. The download page is %1").arg(m_page.toString()));
        m_details->show();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_details);
    layout->addWidget(buttons);
    setMinimumWidth(360);
    showChecking();
}

void UpdateDialog::showChecking() {
    showAnswer(tr("Checking for updates…"), {});
}

void UpdateDialog::showUpToDate() {
    showAnswer(tr("Norik is up to date (version %1).").arg(m_installedVersion), {});
}

void UpdateDialog::showNewerVersion(const QString& version, const QUrl& page, const QString& notes) {
    showAnswer(tr("Norik %1 is available; you have version %2.").arg(version, m_installedVersion), notes, page);
}

void UpdateDialog::showUnreachable(const QString& reason) {
    showAnswer(tr("The update feed could not be reached."), reason);
}

void UpdateDialog::showNoFeed() {
    showAnswer(tr("This copy of Norik is updated by your package manager."), {});
}

void UpdateDialog::showAnswer(const QString& message, const QString& details, const QUrl& page) {
    m_message->setText(message);
    m_details->setText(details);
    m_details->setVisible(!details.isEmpty());
    m_page = page;
    m_openPage->setVisible(!page.isEmpty());
    m_openPage->setDefault(!page.isEmpty());
    adjustSize();
}

} // namespace norik::app
