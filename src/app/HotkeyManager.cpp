// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HotkeyManager.h"

#include <utility>

#include <QPointer>

namespace norik::app {

using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Name;
using core::shortcuts::Shortcut;

HotkeyManager::HotkeyManager(core::shortcuts::Registry& registry, QObject* parent)
    : QObject(parent), m_registry(registry) {}

const Name& HotkeyManager::reviewSelection() {
    static const Name name{"reviewSelection", Shortcut(Key::space, ModifierFlags::option | ModifierFlags::command)};
    return name;
}

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
}

} // namespace norik::app
