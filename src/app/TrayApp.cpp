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
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <malloc.h>
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

const char* displayOrNull(const QByteArray& display) {
    return display.isEmpty() ? nullptr : display.constData();
}

// What the tray app holds while it runs, in the order it is built; what is built later may use what comes
// before it. Main thread only.
class TrayApp {
public:
    TrayApp(QByteArray display, std::unique_ptr<InstanceService> instance, std::unique_ptr<QtX11HotKeys> hotKeys,
            std::unique_ptr<X11SelectionCapture> capture);
    // Review tasks read the API key on the thread pool; they must be over before the preferences go.
    ~TrayApp() { QThreadPool::globalInstance()->waitForDone(); }
    TrayApp(const TrayApp&) = delete;
    TrayApp& operator=(const TrayApp&) = delete;

    // Wires what needs the running event loop; whatever start shows appears in a running application.
    void start();

private:
    // Any thread may tell; the message waits in the event loop until the tray icon exists.
    void tellOnce(const QString& message);
    void showWarning(const QString& message);
    bool isSystemShortcut(const core::shortcuts::Shortcut& shortcut);
    void openSettingsForLaunch(const QByteArray& launch);
    void openSettings() { openSettingsForLaunch({}); }
    void wireOnboarding();
    void wireTray();

    const QByteArray m_display;
    const std::unique_ptr<InstanceService> m_instance;
    const std::unique_ptr<QtX11HotKeys> m_hotKeys;
    const std::unique_ptr<X11SelectionCapture> m_capture;
    const bool m_wayland = inWaylandSession();
    std::set<QString> m_told;

    // Before the stores, which report what the user must hear of as they open.
    ProblemCollector m_problems;
    core::SettingsStore m_settings;
    const std::unique_ptr<core::SecretStore> m_secrets = platform::makeSecretStore();
    core::Preferences m_preferences{m_settings, *m_secrets};
    UpdaterManager m_updater{m_settings};
    core::HistoryStore m_history{core::NorikStore::shared()};

    core::shortcuts::Registry m_shortcuts;
    const MenuShortcutMonitor m_menuShortcuts{m_shortcuts};
    // Asked when a recorder meets a combination, on a connection of its own; built at the first question.
    std::unique_ptr<platform::SystemShortcuts> m_systemShortcuts;
    RecorderContext m_recorderContext;

    QSystemTrayIcon m_tray;
    // The tray says which message was clicked by no more than a signal, so the latest message decides what a
    // click does: only an update notice opens a page.
    QUrl m_pageOfLatestMessage;
    X11AccessibilityTrust m_trust;
    NotchReviewPresenter m_presenter;
    std::unique_ptr<GlobalKeyMonitor> m_escapeMonitor;
    AppCoordinator m_coordinator;
    DesktopTrigger m_desktopTrigger;
    // Built on first use: most sessions never open it, and it would only add to the start-up time.
    std::optional<SettingsView> m_settingsView;
    OnboardingController m_onboarding;
    MenuBarContent m_content;
    core::shortcuts::NotificationCenter::Observer m_failureObserver;
};

TrayApp::TrayApp(QByteArray display, std::unique_ptr<InstanceService> instance, std::unique_ptr<QtX11HotKeys> hotKeys,
                 std::unique_ptr<X11SelectionCapture> capture)
    : m_display(std::move(display)), m_instance(std::move(instance)), m_hotKeys(std::move(hotKeys)),
      m_capture(std::move(capture)), m_shortcuts(m_settings, m_hotKeys->backend()),
      m_recorderContext{m_shortcuts, &m_hotKeys->backend().layout(),
                        [this](const core::shortcuts::Shortcut& shortcut) { return isSystemShortcut(shortcut); }},
      // Installed, the icon theme holds the symbolic icon, which panels recolour to suit themselves; a build
      // tree has only the built-in one.
      m_tray(QIcon::fromTheme(QString::fromUtf8(core::kAppId.data(), core::kAppId.size()) + QStringLiteral("-symbolic"),
                              QIcon(QStringLiteral(":/norik/icons/norik-tray.svg")))),
      m_trust(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection(),
              [this](const QString& message) { showWarning(message); }),
      m_coordinator(m_presenter, *m_capture, m_trust, m_history, m_preferences, m_shortcuts),
      m_desktopTrigger(m_shortcuts, qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection(),
                       [this] { m_coordinator.trigger(); }),
      m_onboarding(OnboardingView::Actions{
                       .onDone = {},
                       .openSettings = [this] { openSettings(); },
                       // Native Wayland windows need no Copy: their selection is read from PRIMARY.
                       .canSendCopy = [this] { return m_trust.isTrusted(); },
                       .explainCopy =
                           [] {
                               auto* box = new QMessageBox(
                                   QMessageBox::Information, QStringLiteral("Norik"),
                                   QStringLiteral("In this session Norik cannot press Copy in other windows."),
                                   QMessageBox::Ok);
                               box->setInformativeText(QString::fromUtf8(kCopyAdvice));
                               box->setAttribute(Qt::WA_DeleteOnClose);
                               box->open();
                           },
                   },
                   m_recorderContext),
      m_content(m_coordinator, m_updater, [this] { openSettings(); }) {
    QObject::connect(&m_problems, &ProblemCollector::added, &m_problems,
                     [this](const QString& message) { tellOnce(message); });
    m_updater.start();
    m_capture->setWaylandSession(m_wayland);

    m_presenter.setLoadingClosable(m_wayland);
    m_hotKeys->setPressListener([this](std::uint32_t time) { m_presenter.setUserTime(time); });
    // When the panel goes, the window the text came from gets its focus back.
    QObject::connect(&m_presenter, &NotchReviewPresenter::closingLastWindow, &m_presenter,
                     [this](WId panel) { m_capture->restoreFocusFrom(static_cast<xcb_window_t>(panel)); });
    // Escape pressed in another application's window closes the panel too.
    if (auto monitor = GlobalKeyMonitor::create(nullptr, XKB_KEY_Escape, [this] { m_presenter.escapePressed(); })) {
        m_escapeMonitor = *std::move(monitor);
        QObject::connect(&m_presenter, &NotchReviewPresenter::shownChanged, m_escapeMonitor.get(),
                         &GlobalKeyMonitor::setActive);
    } else {
        std::cerr << "norik: Escape outside Norik will not close the panel: " << monitor.error() << '\n';
    }

    m_recorderContext.triggerRoute = m_desktopTrigger.state();
    m_coordinator.setOnboarding(&m_onboarding);
    wireOnboarding();
    wireTray();
    QObject::connect(m_instance.get(), &InstanceService::triggerRequested, &m_coordinator,
                     [this](const QByteArray& launch) {
                         m_presenter.answerLaunch(launch);
                         m_coordinator.trigger();
                     });
    QObject::connect(m_instance.get(), &InstanceService::settingsRequested, &m_content,
                     [this](const QByteArray& launch) { openSettingsForLaunch(launch); });
}

void TrayApp::start() {
    m_coordinator.start();
    // With no icon to click, Norik would otherwise start out of reach; the first-run window opens anyway.
    if (!m_desktopTrigger.hasTray() && m_preferences.hasCompletedOnboarding()) {
        openSettings();
    }
    // Start-up frees most of what it allocates (settings, the history's schema, fonts) but the heap keeps it;
    // handed back once the start's events are through, for a process that then mostly waits for a key.
    QTimer::singleShot(0, qApp, [] { malloc_trim(0); });
}

void TrayApp::tellOnce(const QString& message) {
    QMetaObject::invokeMethod(
        qApp,
        [this, message] {
            if (m_told.insert(message).second) {
                showWarning(message);
            }
        },
        Qt::QueuedConnection);
}

void TrayApp::showWarning(const QString& message) {
    m_pageOfLatestMessage.clear();
    m_tray.showMessage(QStringLiteral("Norik"), message, QSystemTrayIcon::Warning);
}

bool TrayApp::isSystemShortcut(const core::shortcuts::Shortcut& shortcut) {
    if (!m_systemShortcuts) {
        auto created = platform::SystemShortcuts::create(displayOrNull(m_display));
        if (!created) {
            return false;
        }
        m_systemShortcuts = *std::move(created);
    }
    const core::shortcuts::Name& review = HotkeyManager::reviewSelection();
    const auto own = m_shortcuts.isRegistered(review) ? m_shortcuts.getShortcut(review) : std::nullopt;
    return m_systemShortcuts->isReserved(shortcut, own);
}

void TrayApp::openSettingsForLaunch(const QByteArray& launch) {
    if (!m_settingsView) {
        m_settingsView.emplace(m_settings, *m_secrets, m_preferences, m_history, m_recorderContext);
        if (!m_desktopTrigger.hasTray() && m_desktopTrigger.onGnome()) {
            m_settingsView->addNote(QString::fromUtf8(kGnomeTrayAdvice));
        }
        m_settingsView->setProblems(m_problems.problems());
        QObject::connect(&m_problems, &ProblemCollector::added, &*m_settingsView,
                         [this] { m_settingsView->setProblems(m_problems.problems()); });
    }
    showForLaunch(*m_settingsView, launch, [this] { m_settingsView->showAndRaise(); });
}

void TrayApp::wireOnboarding() {
    // Starting at login is what a tray app is for, so the first-run window offers it switched on; it is
    // written only once the user has chosen "Get started".
    QObject::connect(&m_onboarding, &OnboardingController::windowBuilt, &m_onboarding, [](OnboardingView* window) {
        auto* startAtLogin = new QCheckBox(QStringLiteral("Start Norik at login"), window);
        startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
        startAtLogin->setChecked(true);
        window->addOption(startAtLogin);
    });
    QObject::connect(&m_onboarding, &OnboardingController::completed, &m_onboarding, [this](OnboardingView* window) {
        const auto* startAtLogin = window->findChild<QCheckBox*>(QStringLiteral("startAtLogin"));
        if (startAtLogin == nullptr || !startAtLogin->isChecked()) {
            return;
        }
        if (const auto written = platform::Autostart().setEnabled(true); !written) {
            tellOnce(QStringLiteral("Norik could not set itself to start at login: %1")
                         .arg(QString::fromStdString(written.error())));
        }
    });
}

void TrayApp::wireTray() {
    // Only where neither the desktop's portal nor GNOME's own shortcuts can take the binding.
    if (m_recorderContext.triggerRoute.route == platform::desktop::TriggerRoute::manualCommand) {
        m_tray.setToolTip(QStringLiteral("Norik\n") + QString::fromUtf8(kWaylandNote));
        std::cerr << "norik: " << kWaylandNote << '\n';
    } else {
        m_tray.setToolTip(QStringLiteral("Norik"));
    }
    m_tray.setContextMenu(&m_content.menu());
    // Many panels send a plain click rather than a context-menu request; both open the menu.
    QObject::connect(&m_tray, &QSystemTrayIcon::activated, &m_content, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger) {
            m_content.menu().popup(QCursor::pos());
        }
    });
    // Ctrl+, works where the panel has the keyboard, e.g. on an error that sends the user to the settings.
    QObject::connect(&m_presenter, &NotchReviewPresenter::shownChanged, &m_content, [this](bool shown) {
        if (shown && m_presenter.panel() != nullptr) {
            m_presenter.panel()->addAction(m_content.settingsAction());
        }
    });
    QObject::connect(&m_updater, &UpdaterManager::newerVersionAvailable, &m_tray,
                     [this](const QString& version, const QUrl& page) {
                         m_pageOfLatestMessage = page;
                         m_tray.showMessage(QStringLiteral("Norik %1 is available").arg(version),
                                            QStringLiteral("Click to open its download page."));
                     });
    QObject::connect(&m_tray, &QSystemTrayIcon::messageClicked, &m_tray, [this] {
        if (!m_pageOfLatestMessage.isEmpty()) {
            QDesktopServices::openUrl(m_pageOfLatestMessage);
        }
    });
    // A shortcut that does nothing must not go unnoticed: at start, after every change and after a keyboard
    // change that lost the grab.
    m_failureObserver = m_shortcuts.notifications().addObserver(
        core::shortcuts::hotKeyRegistrationDidFail, [this](const core::shortcuts::Notification& notification) {
            const auto shortcut =
                m_shortcuts.getShortcut(std::get<core::shortcuts::Name>(notification.userInfo.at("name")));
            if (shortcut) {
                showWarning(unregisteredShortcutWarning(m_recorderContext.describe(*shortcut)));
            }
        });

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::cerr << "norik: no system tray is running, so Norik has no icon until one starts; the shortcut, "
                     "`norik trigger` and `norik settings` work meanwhile.\n";
    }
    m_tray.show();
}

} // namespace

int runTrayApp(int argc, char** argv) {
    // Qt aborts the process when it cannot reach its display; a display that is set but gone (a closed
    // session, a mistyped DISPLAY) deserves a sentence instead. XWayland serves X11 clients in Wayland
    // sessions, and the hot keys, the capture and the panel all speak X11, so Qt must too.
    const QByteArray display = qgetenv("DISPLAY");
    if (const auto probe = platform::x11::XcbConnection::open(displayOrNull(display)); !probe) {
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

    TrayApp app(display, *std::move(instance), *std::move(hotKeys), std::move(capture));
    QTimer::singleShot(0, qApp, [&app] { app.start(); });
    return QApplication::exec();
}

} // namespace norik::app
