// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QAction>
#include <QMenu>
#include <QObject>

namespace norik::app {

class AppCoordinator;
class UpdaterManager;

// The tray icon's menu: "Review selection", "Settings…" (Ctrl+,), "Check for Updates…" and "Quit Norik".
// The targets are borrowed and must outlive the menu. Main thread only.
class MenuBarContent final : public QObject {
    Q_OBJECT

public:
    MenuBarContent(AppCoordinator& coordinator, UpdaterManager& updater, std::function<void()> openSettings,
                   QObject* parent = nullptr);

    [[nodiscard]] QMenu& menu() { return m_menu; }
    // "Settings…", for the app's own windows to take up: a tray menu's shortcuts only work in a window that
    // holds the action.
    [[nodiscard]] QAction* settingsAction() const { return m_settings; }

private:
    AppCoordinator& m_coordinator;
    UpdaterManager& m_updater;
    std::function<void()> m_openSettings;
    QMenu m_menu;
    QAction* m_settings = nullptr;
};

} // namespace norik::app
