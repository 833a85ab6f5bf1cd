// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/TriggerRouteRow.h"

#include <utility>

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace norik::app {

using platform::desktop::TriggerRoute;

TriggerRouteRow::TriggerRouteRow(TriggerRouteState state, QWidget* parent)
    : QWidget(parent), m_state(std::move(state)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("triggerRouteText"));
    m_text->setWordWrap(true);
    column->addWidget(m_text);
    auto* line = new QHBoxLayout;
    column->addLayout(line);

    switch (m_state.route) {
    case TriggerRoute::x11Grab:
        setVisible(false);
        break;
    case TriggerRoute::portal:
        break;
    case TriggerRoute::gnomeCustomShortcut:
        m_action = new QPushButton(QStringLiteral("Add to GNOME's keyboard shortcuts"), this);
        m_action->setObjectName(QStringLiteral("addGnomeShortcut"));
        line->addWidget(m_action);
        line->addStretch(1);
        connect(m_action, &QPushButton::clicked, this, [this] {
            if (const std::optional<QString> refused = m_state.installGnomeEntry()) {
                m_text->setText(QStringLiteral("GNOME did not take the shortcut: %1").arg(*refused));
                return;
            }
            refresh();
        });
        break;
    case TriggerRoute::manualCommand: {
        m_text->setText(QStringLiteral("In this session, bind this command to a shortcut in your desktop's "
                                       "keyboard settings:"));
        auto* commandLine = new QLineEdit(QString::fromLatin1(command), this);
        commandLine->setObjectName(QStringLiteral("triggerCommand"));
        commandLine->setReadOnly(true);
        line->addWidget(commandLine);
        m_action = new QPushButton(QStringLiteral("Copy"), this);
        m_action->setObjectName(QStringLiteral("copyTriggerCommand"));
        line->addWidget(m_action);
        connect(m_action, &QPushButton::clicked, this,
                [] { QGuiApplication::clipboard()->setText(QString::fromLatin1(command)); });
        break;
    }
    }
    refresh();
}

void TriggerRouteRow::showEvent(QShowEvent* event) {
    // The desktop may have changed the keys in its own settings meanwhile.
    refresh();
    QWidget::showEvent(event);
}

void TriggerRouteRow::refresh() {
    if (m_state.route == TriggerRoute::portal) {
        const QString assigned = m_state.assignedTrigger();
        m_text->setText(assigned.isEmpty()
                            ? QStringLiteral("The desktop has assigned no keys yet; choose them in its keyboard "
                                             "settings under Norik.")
                            : QStringLiteral("The desktop assigned: %1").arg(assigned));
    } else if (m_state.route == TriggerRoute::gnomeCustomShortcut) {
        const bool installed = m_state.gnomeEntryInstalled();
        m_action->setVisible(!installed);
        m_text->setText(installed ? QStringLiteral("GNOME runs \"%1\" on this shortcut; it is listed in GNOME's "
                                                   "keyboard settings under Custom Shortcuts.")
                                        .arg(QString::fromLatin1(command))
                                  : QStringLiteral("In this session the shortcut works over every window once "
                                                   "GNOME runs it:"));
    }
}

} // namespace norik::app
