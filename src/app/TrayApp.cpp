// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayApp.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "app/AppCoordinator.h"
#include "app/DesktopTrigger.h"
#include "app/MenuBarContent.h"
#include "app/ProblemCollector.h"
#include "app/capture/X11AccessibilityTrust.h"
#include "app/capture/X11SelectionCapture.h"
#include "app/instance/InstanceService.h"
#include "app/instance/X11Launch.h"
#include "app/onboarding/OnboardingController.h"
#include "app/presentation/NotchReviewPresenter.h"
#include "app/settings/SettingsView.h"
#include "app/shortcuts/GlobalKeyMonitor.h"
#include "app/shortcuts/MenuShortcutMonitor.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "app/shortcuts/Recorder.h"
#include "app/shortcuts/RecorderContext.h"
#include "app/updates/UpdaterManager.h"
#include "core/AppInfo.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/autostart/Autostart.h"
#include "platform/desktop/SystemShortcuts.h"
#include "platform/secret/SecretStoreFactory.h"
#include "platform/x11/XcbHandles.h"

// Resources of a static library are registered by hand, from outside any namespace.
static void initTrayResources() {
    Q_INIT_RESOURCE(tray);
}

namespace norik::app {

namespace {

// XWayland gives X11 programs no key events of native Wayland windows, so a grab there only fires over
// other X11 windows. The desktop's own shortcut settings can run `norik trigger` instead.
bool inWaylandSession() {
    const QByteArray session = qgetenv("XDG_SESSION_TYPE");
    return session == "wayland" || (session.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
}

constexpr const char* kWaylandNote =
    "In this Wayland session the shortcut only works over X11 windows. To review from any window, bind the "
    "command \"norik trigger\" to a shortcut in your desktop's keyboard settings.";

constexpr const char* kCopyAdvice =
    "It needs an X11 session whose server offers the XTEST extension; in a Wayland session its keys only reach "
    "X11 windows. To review from any window, bind the command \"norik trigger\" to a shortcut in your desktop's "
    "keyboard settings.";

constexpr const char* kGnomeTrayAdvice =
    "GNOME shows no tray icons by itself. To get Norik's icon in the top bar, install the AppIndicator "
    "extension (on Debian, the package gnome-shell-extension-appindicator) and turn it on in Extensions.";

} // namespace

int runTrayApp(int argc, char** argv) {
    // Qt aborts the process when it cannot reach its display; a display that is set but gone (a closed
    // session, a mistyped DISPLAY) deserves a sentence instead. XWayland serves X11 clients in Wayland
    // sessions, and the hot keys, the capture and the panel all speak X11, so Qt must too.
    const QByteArray display = qgetenv("DISPLAY");
    if (const auto probe = platform::x11::XcbConnection::open(display.isEmpty() ? nullptr : display.constData());
        !probe) {
        std::cerr << "norik: " << probe.error()
                  << ". The tray app needs a running X11 session; in a terminal, use `norik review` instead "
                     "(see `norik --help`).\n";
        return EXIT_FAILURE;
    }
    if (const QByteArray platform = qgetenv("QT_QPA_PLATFORM"); platform.isEmpty() || platform.contains("wayland")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    // Read before Qt, which takes it for its first window; a second start hands it to the running Norik.
    const QByteArray startupId = qgetenv("DESKTOP_STARTUP_ID");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norik"));
    // The panel and the settings window come and go; only "Quit Norik" ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    initTrayResources();

    // Settled before anything visible exists: of two starts at the same moment, the one that loses hands over.
    auto instance = InstanceService::claim();
    if (!instance) {
        return handOverToRunningInstance(instance.error(), startupId);
    }

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
    const bool wayland = inWaylandSession();
    capture->setWaylandSession(wayland);
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();

    // Problems the user must hear of, each told once as a tray message. Any thread may tell; the message waits
    // in the event loop until the tray icon exists.
    std::function<void(const QString&)> showWarning;
    std::set<QString> told;
    const auto tellOnce = [&showWarning, &told](const QString& message) {
        QMetaObject::invokeMethod(
            qApp,
            [&showWarning, &told, message] {
                if (showWarning && told.insert(message).second) {
                    showWarning(message);
                }
            },
            Qt::QueuedConnection);
    };

    // Before the stores, which report what the user must hear of as they open.
    ProblemCollector problems;
    QObject::connect(&problems, &ProblemCollector::added, &problems, tellOnce);

    core::SettingsStore settings;
    const std::unique_ptr<core::SecretStore> secrets = platform::makeSecretStore();
    core::Preferences preferences(settings, *secrets);
    // Review tasks read the API key on the thread pool; they must be over before the preferences go.
    const auto drainPool = qScopeGuard([] { QThreadPool::globalInstance()->waitForDone(); });

    UpdaterManager updater(settings);
    updater.start();
    core::HistoryStore history(core::NorikStore::shared());

    platform::x11::X11HotKeyBackend& backend = (*hotKeys)->backend();
    core::shortcuts::Registry shortcuts(settings, backend);
    const MenuShortcutMonitor menuShortcuts(shortcuts);
    // Asked when a recorder meets a combination, on a connection of its own; built at the first question.
    std::unique_ptr<platform::SystemShortcuts> system;
    RecorderContext recorderContext{
        shortcuts, &backend.layout(), [&](const core::shortcuts::Shortcut& shortcut) {
            if (!system) {
                auto created = platform::SystemShortcuts::create(display.isEmpty() ? nullptr : display.constData());
                if (!created) {
                    return false;
                }
                system = *std::move(created);
            }
            const core::shortcuts::Name& review = HotkeyManager::reviewSelection();
            const auto own = shortcuts.isRegistered(review) ? shortcuts.getShortcut(review) : std::nullopt;
            return system->isReserved(shortcut, own);
        }};

    // Installed, the icon theme holds the symbolic icon, which panels recolour to suit themselves; a build tree
    // has only the built-in one.
    QSystemTrayIcon tray(
        QIcon::fromTheme(QString::fromUtf8(core::kAppId.data(), core::kAppId.size()) + QStringLiteral("-symbolic"),
                         QIcon(QStringLiteral(":/norik/icons/norik-tray.svg"))));
    // The tray says which message was clicked by no more than a signal, so the latest message decides what a
    // click does: only an update notice opens a page.
    QUrl pageOfLatestMessage;
    showWarning = [&tray, &pageOfLatestMessage](const QString& message) {
        pageOfLatestMessage.clear();
        tray.showMessage(QStringLiteral("Norik"), message, QSystemTrayIcon::Warning);
    };
    X11AccessibilityTrust trust(x11->connection(), showWarning);

    NotchReviewPresenter presenter;
    presenter.setLoadingClosable(wayland);
    // When the panel goes, the window the text came from gets its focus back.
    QObject::connect(&presenter, &NotchReviewPresenter::closingLastWindow, &presenter,
                     [&capture](WId panel) { capture->restoreFocusFrom(static_cast<xcb_window_t>(panel)); });
    // Escape pressed in another application's window closes the panel too.
    auto escapeMonitor = GlobalKeyMonitor::create(nullptr, XKB_KEY_Escape, [&presenter] { presenter.escapePressed(); });
    if (escapeMonitor) {
        QObject::connect(&presenter, &NotchReviewPresenter::shownChanged, escapeMonitor->get(),
                         &GlobalKeyMonitor::setActive);
    } else {
        std::cerr << "norik: Escape outside Norik will not close the panel: " << escapeMonitor.error() << '\n';
    }

    AppCoordinator coordinator(presenter, *capture, trust, history, preferences, shortcuts);
    DesktopTrigger desktopTrigger(shortcuts, x11->connection(), [&coordinator] { coordinator.trigger(); });
    recorderContext.triggerRoute = desktopTrigger.state();
    // Only where neither the desktop's portal nor GNOME's own shortcuts can take the binding.
    const bool bindByHand = recorderContext.triggerRoute.route == platform::desktop::TriggerRoute::manualCommand;
    tray.setToolTip(bindByHand ? QStringLiteral("Norik\n") + QString::fromUtf8(kWaylandNote) : QStringLiteral("Norik"));
    if (bindByHand) {
        std::cerr << "norik: " << kWaylandNote << '\n';
    }

    // Built on first use: most sessions never open it, and it would only add to the start-up time.
    std::optional<SettingsView> settingsView;
    const auto openSettingsForLaunch = [&](const QByteArray& launch) {
        if (!settingsView) {
            settingsView.emplace(settings, *secrets, preferences, history, recorderContext);
            if (!desktopTrigger.hasTray() && desktopTrigger.onGnome()) {
                settingsView->addNote(QString::fromUtf8(kGnomeTrayAdvice));
            }
            settingsView->setProblems(problems.problems());
            QObject::connect(&problems, &ProblemCollector::added, &*settingsView,
                             [&] { settingsView->setProblems(problems.problems()); });
        }
        showForLaunch(*settingsView, launch, [&] { settingsView->showAndRaise(); });
    };
    const auto openSettings = [&] { openSettingsForLaunch({}); };

    OnboardingController onboarding(OnboardingView::Actions{
                                        .onDone = {},
                                        .openSettings = openSettings,
                                        // Native Wayland windows need no Copy: their selection is read from PRIMARY.
                                        .canSendCopy = [&trust] { return trust.isTrusted(); },
                                        .explainCopy =
                                            [] {
                                                auto* box = new QMessageBox(
                                                    QMessageBox::Information, QStringLiteral("Norik"),
                                                    QStringLiteral("In this session Norik cannot press Copy in other "
                                                                   "windows."),
                                                    QMessageBox::Ok);
                                                box->setInformativeText(QString::fromUtf8(kCopyAdvice));
                                                box->setAttribute(Qt::WA_DeleteOnClose);
                                                box->open();
                                            },
                                    },
                                    recorderContext);
    coordinator.setOnboarding(&onboarding);
    // Starting at login is what a tray app is for, so the first-run window offers it switched on; it is
    // written only once the user has chosen "Get started".
    QObject::connect(&onboarding, &OnboardingController::windowBuilt, &onboarding, [](OnboardingView* window) {
        auto* startAtLogin = new QCheckBox(QStringLiteral("Start Norik at login"), window);
        startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
        startAtLogin->setChecked(true);
        window->addOption(startAtLogin);
    });
    QObject::connect(&onboarding, &OnboardingController::completed, &onboarding, [&tellOnce](OnboardingView* window) {
        const auto* startAtLogin = window->findChild<QCheckBox*>(QStringLiteral("startAtLogin"));
        if (startAtLogin == nullptr || !startAtLogin->isChecked()) {
            return;
        }
        if (const auto written = platform::Autostart().setEnabled(true); !written) {
            tellOnce(QStringLiteral("Norik could not set itself to start at login: %1")
                         .arg(QString::fromStdString(written.error())));
        }
    });

    MenuBarContent content(coordinator, updater, openSettings);
    tray.setContextMenu(&content.menu());
    // Many panels send a plain click rather than a context-menu request; both open the menu.
    QObject::connect(&tray, &QSystemTrayIcon::activated, &content, [&content](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger) {
            content.menu().popup(QCursor::pos());
        }
    });
    // Ctrl+, works where the panel has the keyboard, e.g. on an error that sends the user to the settings.
    QObject::connect(&presenter, &NotchReviewPresenter::shownChanged, &content, [&presenter, &content](bool shown) {
        if (shown && presenter.panel() != nullptr) {
            presenter.panel()->addAction(content.settingsAction());
        }
    });
    QObject::connect(&updater, &UpdaterManager::newerVersionAvailable, &tray,
                     [&tray, &pageOfLatestMessage](const QString& version, const QUrl& page) {
                         pageOfLatestMessage = page;
                         tray.showMessage(QStringLiteral("Norik %1 is available").arg(version),
                                          QStringLiteral("Click to open its download page."));
                     });
    QObject::connect(&tray, &QSystemTrayIcon::messageClicked, &tray, [&pageOfLatestMessage] {
        if (!pageOfLatestMessage.isEmpty()) {
            QDesktopServices::openUrl(pageOfLatestMessage);
        }
    });
    // A shortcut that does nothing must not go unnoticed: at start, after every change and after a keyboard
    // change that lost the grab.
    const auto failureObserver = shortcuts.notifications().addObserver(
        core::shortcuts::hotKeyRegistrationDidFail, [&](const core::shortcuts::Notification& notification) {
            const auto shortcut =
                shortcuts.getShortcut(std::get<core::shortcuts::Name>(notification.userInfo.at("name")));
            if (shortcut) {
                pageOfLatestMessage.clear();
                tray.showMessage(QStringLiteral("Norik"),
                                 unregisteredShortcutWarning(recorderContext.describe(*shortcut)),
                                 QSystemTrayIcon::Warning);
            }
        });
    QObject::connect(instance->get(), &InstanceService::triggerRequested, &coordinator, &AppCoordinator::trigger);
    QObject::connect(instance->get(), &InstanceService::settingsRequested, &content, openSettingsForLaunch);

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::cerr << "norik: no system tray is running, so Norik has no icon until one starts; the shortcut, "
                     "`norik trigger` and `norik settings` work meanwhile.\n";
    }
    tray.show();

    // Wired once the event loop runs, so that whatever start() shows appears in a running application.
    QTimer::singleShot(0, &coordinator, &AppCoordinator::start);
    // With no icon to click, Norik would otherwise start out of reach; the first-run window opens anyway.
    if (!desktopTrigger.hasTray() && preferences.hasCompletedOnboarding()) {
        QTimer::singleShot(0, &content, openSettings);
    }
    return QApplication::exec();
}

} // namespace norik::app
