// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MenuBarContent.h"

#include <utility>

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QThread>

#include "app/AppCoordinator.h"
#include "app/updates/UpdaterManager.h"

namespace norik::app {

namespace {

void expectMainThread() {
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
}

} // namespace

MenuBarContent::MenuBarContent(AppCoordinator& coordinator, UpdaterManager& updater, std::function<void()> openSettings,
                               QObject* parent)
    : QObject(parent), m_coordinator(coordinator), m_updater(updater), m_openSettings(std::move(openSettings)) {
    expectMainThread();
    connect(m_menu.addAction(QStringLiteral("Review selection")), &QAction::triggered, this, [this] {
        expectMainThread();
        m_coordinator.trigger();
    });
    m_menu.addSeparator();

    m_settings = m_menu.addAction(QStringLiteral("Settings\u2026"));
    m_settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(m_settings, &QAction::triggered, this, [this] {
        expectMainThread();
        m_openSettings();
    });

    connect(m_menu.addAction(QStringLiteral("Check for Updates\u2026")), &QAction::triggered, this, [this] {
        expectMainThread();
        m_updater.checkForUpdates();
    });
    m_menu.addSeparator();
    connect(m_menu.addAction(QStringLiteral("Quit Norik")), &QAction::triggered, this, [] {
        expectMainThread();
        QCoreApplication::quit();
    });
}

} // namespace norik::app
