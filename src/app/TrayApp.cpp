// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayApp.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/AppCoordinator.h"
#include "app/capture/X11AccessibilityTrust.h"
#include "app/capture/X11SelectionCapture.h"
#include "app/presentation/NotchReviewPresenter.h"
#include "app/shortcuts/GlobalKeyMonitor.h"
#include "app/shortcuts/MenuShortcutMonitor.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Description.h"
#include "core/shortcuts/Registry.h"
#include "platform/secret/SecretStoreFactory.h"

// Resources of a static library are registered by hand, from outside any namespace.
static void initTrayResources() {
    Q_INIT_RESOURCE(tray);
}

namespace norik::app {

int runTrayApp(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norik"));
    // The panel is the only window and closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    initTrayResources();

    auto hotKeys = QtX11HotKeys::create();
    if (!hotKeys) {
        std::cerr << "norik: " << hotKeys.error() << '\n';
        return EXIT_FAILURE;
    }
    application.installNativeEventFilter(hotKeys->get());
    std::unique_ptr<X11SelectionCapture> capture = X11SelectionCapture::forApplication();
    if (!capture) {
        std::cerr << "norik: the desktop app needs an X11 session\n";
        return EXIT_FAILURE;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();

    core::SettingsStore settings;
    const std::unique_ptr<core::SecretStore> secrets = platform::makeSecretStore();
    core::Preferences preferences(settings, *secrets);
    core::HistoryStore history(core::NorikStore::shared());
    platform::x11::X11HotKeyBackend& backend = (*hotKeys)->backend();
    core::shortcuts::Registry shortcuts(settings, backend, [&backend](const core::shortcuts::Shortcut& shortcut) {
        return core::shortcuts::wordsDescription(shortcut, &backend.layout());
    });
    MenuShortcutMonitor menuShortcuts(shortcuts);

    QSystemTrayIcon tray(QIcon(QStringLiteral(":/norik/icons/norik-tray.svg")));
    tray.setToolTip(QStringLiteral("Norik"));
    X11AccessibilityTrust trust(x11->connection(), [&tray](const QString& message) {
        tray.showMessage(QStringLiteral("Norik"), message, QSystemTrayIcon::Warning);
    });

    NotchReviewPresenter presenter;
    // Once the panel has gone, the window the text came from gets its focus back.
    QObject::connect(&presenter, &NotchReviewPresenter::shownChanged, &presenter, [&capture](bool shown) {
        if (!shown) {
            capture->restoreFocus();
        }
    });
    // Escape pressed in another application's window closes the panel too.
    auto escapeMonitor = GlobalKeyMonitor::create(nullptr, GlobalKeyMonitor::escapeKeyCode(),
                                                  [&presenter] { presenter.escapePressed(); });
    if (escapeMonitor) {
        QObject::connect(&presenter, &NotchReviewPresenter::shownChanged, escapeMonitor->get(),
                         &GlobalKeyMonitor::setActive);
    } else {
        std::cerr << "norik: Escape outside Norik will not close the panel: " << escapeMonitor.error() << '\n';
    }

    AppCoordinator coordinator(presenter, *capture, trust, history, preferences, shortcuts);

    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Review selection")), &QAction::triggered, &coordinator,
                     &AppCoordinator::trigger);
    menu.addSeparator();
    QObject::connect(menu.addAction(QStringLiteral("Quit Norik")), &QAction::triggered, &application,
                     &QCoreApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();

    coordinator.start();
    return QApplication::exec();
}

} // namespace norik::app
