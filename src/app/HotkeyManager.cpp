// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HotkeyManager.h"

#include <utility>

#include <QPointer>

namespace norik::app {

HotkeyManager::HotkeyManager(core::shortcuts::Registry& registry, QObject* parent)
    : QObject(parent), m_registry(registry) {}

void HotkeyManager::setOnTrigger(std::function<void()> onTrigger) {
    m_onTrigger = std::move(onTrigger);
}

void HotkeyManager::start() {
    m_registry.declare(reviewSelection());
    // The registry outlives this manager, so its action must not keep the manager alive nor reach a gone one.
    m_registry.onKeyDown(reviewSelection(), [manager = QPointer<HotkeyManager>(this)] {
        if (manager && manager->m_onTrigger) {
            manager->m_onTrigger();
        }
    });
    followStore();
}

// The store replaces its file by a rename, which only a watch on the folder sees; a burst of changes (the
// temporary file, the rename, the lock) is read once.
void HotkeyManager::followStore() {
    m_reload.setSingleShot(true);
    m_reload.setInterval(0);
    connect(&m_reload, &QTimer::timeout, this, [this] { m_registry.reloadFromStore(); });
    m_watcher.addPath(QString::fromStdString(m_registry.storePath().parent_path().string()));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_reload, qOverload<>(&QTimer::start));
}

} // namespace norik::app
