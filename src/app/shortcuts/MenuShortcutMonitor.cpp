// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/MenuShortcutMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>

#include "core/shortcuts/KeyTable.h"

namespace norik::app {

namespace {

using core::shortcuts::EventType;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;

} // namespace

std::optional<Shortcut> shortcutOf(const QKeyEvent& event) {
    const quint32 keyCode = event.nativeScanCode();
    const auto key = keyCode > core::shortcuts::kEvdevToXkb
                         ? core::shortcuts::keyForEvdevCode(keyCode - core::shortcuts::kEvdevToXkb)
                         : std::nullopt;
    if (!key) {
        return std::nullopt;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    ModifierFlags flags;
    flags = modifiers.testFlag(Qt::ControlModifier) ? flags | ModifierFlags::command : flags;
    flags = modifiers.testFlag(Qt::AltModifier) ? flags | ModifierFlags::option : flags;
    flags = modifiers.testFlag(Qt::ShiftModifier) ? flags | ModifierFlags::shift : flags;
    flags = modifiers.testFlag(Qt::MetaModifier) ? flags | ModifierFlags::control : flags;
    return Shortcut(*key, flags);
}

MenuShortcutMonitor::MenuShortcutMonitor(core::shortcuts::Registry& registry) : m_registry(registry) {
    QCoreApplication::instance()->installEventFilter(this);
}

MenuShortcutMonitor::~MenuShortcutMonitor() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    if (!m_openMenus.isEmpty()) {
        m_registry.setMenuOpen(false);
    }
}

bool MenuShortcutMonitor::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
        if (qobject_cast<QMenu*>(watched) != nullptr && !m_openMenus.contains(watched)) {
            m_openMenus.insert(watched);
            // A menu destroyed while shown may never report that it was hidden.
            connect(watched, &QObject::destroyed, this, [this](QObject* menu) { menuClosed(menu); });
            m_registry.setMenuOpen(true);
        }
        return false;
    case QEvent::Hide:
        menuClosed(watched);
        return false;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return !m_openMenus.isEmpty() &&
               handleKey(*static_cast<const QKeyEvent*>(event), event->type() == QEvent::KeyPress);
    default:
        return false;
    }
}

void MenuShortcutMonitor::menuClosed(QObject* menu) {
    if (!m_openMenus.remove(menu)) {
        return;
    }
    disconnect(menu, &QObject::destroyed, this, nullptr);
    if (m_openMenus.isEmpty()) {
        m_pressed.clear();
        m_registry.setMenuOpen(false);
    }
}

bool MenuShortcutMonitor::handleKey(const QKeyEvent& event, bool press) {
    const quint32 keyCode = event.nativeScanCode();
    if (event.isAutoRepeat()) {
        return m_pressed.contains(keyCode);
    }
    if (!press) {
        if (!m_pressed.remove(keyCode)) {
            return false;
        }
        if (const auto shortcut = shortcutOf(event)) {
            m_registry.handleMenuKey(*shortcut, EventType::keyUp);
        }
        return true;
    }
    const auto shortcut = shortcutOf(event);
    if (!shortcut || !m_registry.handleMenuKey(*shortcut, EventType::keyDown)) {
        return false;
    }
    m_pressed.insert(keyCode);
    return true;
}

} // namespace norik::app
