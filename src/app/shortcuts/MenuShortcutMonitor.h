// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QObject>
#include <QSet>

#include "core/shortcuts/Registry.h"

class QKeyEvent;

namespace norik::app {

// The shortcut of a Qt key event: the physical key from its X11 key code, the modifiers mapped as on
// Linux (Ctrl is command, Alt option, Meta/Super control). Absent for keys outside the key table.
[[nodiscard]] std::optional<core::shortcuts::Shortcut> shortcutOf(const QKeyEvent& event);

// While a menu of the application is open it holds the keyboard, so no hot key can fire. From the first
// menu shown to the last one hidden this filter tells the registry that a menu is open (which releases the
// hot keys), matches the key events that reach the menu against the hot keys, runs a match and swallows it.
// Installed on the application for its whole life; outside menus it only watches menus appear. The
// registry must outlive it.
class MenuShortcutMonitor final : public QObject {
public:
    explicit MenuShortcutMonitor(core::shortcuts::Registry& registry);
    ~MenuShortcutMonitor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void menuClosed(QObject* menu);
    bool handleKey(const QKeyEvent& event, bool press);

    core::shortcuts::Registry& m_registry;
    QSet<QObject*> m_openMenus;
    // X11 key codes of matched keys that are down, so that their auto-repeats and release are taken too.
    QSet<quint32> m_pressed;
};

} // namespace norik::app
