// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/prctl.h>

#include "app/QtWait.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/X11Client.h"
#include "support/XvfbServer.h"

namespace norik::tests {

using namespace std::chrono_literals;

// A client process whose standard output the test reads line by line while the event loop keeps running,
// so that Norik can answer the clipboard requests the client makes.
class ClientProcess {
public:
    ClientProcess(const QString& program, const QStringList& arguments, const QString& workingDirectory = {},
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(workingDirectory);
        // A test that crashes must not leave its clients behind on a shared machine.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program, arguments);
    }
    ~ClientProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The next line that starts with `prefix` (the others are kept for later), without the line break.
    std::optional<QByteArray> waitForLine(const QByteArray& prefix) {
        std::optional<QByteArray> found;
        waitUntil([&] {
            for (const QList<QByteArray>& all = lines(); m_consumed < all.size();) {
                if (all[m_consumed++].startsWith(prefix)) {
                    found = all[m_consumed - 1];
                    return true;
                }
            }
            return m_process.state() == QProcess::NotRunning;
        });
        return found;
    }

    [[nodiscard]] const QList<QByteArray>& lines() {
        while (m_process.canReadLine()) {
            m_lines.append(m_process.readLine().trimmed());
        }
        return m_lines;
    }

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QList<QByteArray> m_lines;
    qsizetype m_consumed = 0;
};

// A private desktop: Xvfb, this process's QApplication on it, and a window manager that gives the focus to new
// windows and reports the active one: openbox, or xfwm4 or kwin_x11 when $NORIK_TEST_WINDOW_MANAGER says so.
// `monitors` divide the screen into RandR monitors, as two side by side are seen on one wide X screen.
class DesktopSession : public X11Client {
public:
    explicit DesktopSession(const std::vector<std::string>& serverArguments = {}, const QList<QRect>& monitors = {})
        : m_server(std::make_unique<XvfbServer>(serverArguments)) {
        if (!m_server->becomeQtDisplay()) {
            m_error = "Xvfb did not start";
            return;
        }
        ::unsetenv("WAYLAND_DISPLAY");
        m_application = std::make_unique<QApplication>(m_argc, m_argv.data());
        const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (x11 == nullptr || x11->connection() == nullptr) {
            m_error = "Qt did not connect to the X server";
            return;
        }
        for (qsizetype index = 0; index < monitors.size(); ++index) {
            const QRect& area = monitors[index];
            // The first takes Xvfb's one output, whose own monitor would otherwise span the screen beside them.
            const QStringList arguments{
                "--setmonitor", QStringLiteral("monitor%1").arg(index),
                QStringLiteral("%1/338x%2/270+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
                index == 0 ? QStringLiteral("screen") : QStringLiteral("none")};
            if (QProcess::execute(QStringLiteral("xrandr"), arguments) != 0) {
                m_error = "xrandr did not set the monitors";
                return;
            }
        }
        m_c = x11->connection();
        m_root = platform::x11::rootWindow(m_c, 0);
        const QString manager = qEnvironmentVariable("NORIK_TEST_WINDOW_MANAGER", QStringLiteral("openbox"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (manager == QLatin1String("kwin_x11")) {
            // Without compositing, as on a plain X server; what it writes goes to a folder of the session's own. Off
            // the session bus, where it would wait for a global shortcut service that cannot reach this display.
            environment.insert(QStringLiteral("KWIN_COMPOSE"), QStringLiteral("N"));
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_windowManagerHome.path());
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        }
        m_windowManager = std::make_unique<ClientProcess>(
            manager,
            manager == QLatin1String("xfwm4")     ? QStringList{"--compositor=off", "--sm-client-disable"}
            : manager == QLatin1String("openbox") ? QStringList{"--sm-disable"}
                                                  : QStringList{},
            QString(), environment);
        if (!waitUntil([&] { return value(m_root, "_NET_SUPPORTING_WM_CHECK") != XCB_NONE; })) {
            m_error = manager.toStdString() + " did not start";
        }
    }
    // Empty when the session is up.
    [[nodiscard]] const std::string& error() const { return m_error; }
    [[nodiscard]] const std::string& display() const { return m_server->display(); }

    [[nodiscard]] xcb_window_t activeWindow() const { return value(m_root, "_NET_ACTIVE_WINDOW"); }
    [[nodiscard]] xcb_window_t clipboardOwner() const {
        const platform::x11::XcbReply<xcb_get_selection_owner_reply_t> reply(
            xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, atom("CLIPBOARD")), nullptr));
        return reply ? reply->owner : XCB_NONE;
    }
    // The class part of a window's WM_CLASS.
    [[nodiscard]] QByteArray windowClass(xcb_window_t window) const {
        return bytes(window, "WM_CLASS").split('\0').value(1);
    }

    // As the window manager lists it in _NET_CLIENT_LIST, brought forward from the task bar should the window
    // manager hold it back (xfwm4 does when the window maps before it manages new ones).
    bool bringForward(const std::function<bool(xcb_window_t)>& isWanted) const {
        for (int attempt = 0; attempt < 40; ++attempt) {
            if (waitUntil([&] { return isWanted(activeWindow()); }, 500ms)) {
                return true;
            }
            for (const std::uint32_t client : values(m_root, "_NET_CLIENT_LIST")) {
                if (isWanted(client)) {
                    // As a pager asks, which window managers always obey.
                    send(m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, client,
                         atom("_NET_ACTIVE_WINDOW"), {2, XCB_CURRENT_TIME});
                }
            }
        }
        return false;
    }

private:
    std::unique_ptr<XvfbServer> m_server;
    int m_argc = 1;
    std::string m_name = "norik-capture-tests";
    std::array<char*, 2> m_argv{m_name.data(), nullptr};
    std::unique_ptr<QApplication> m_application;
    QTemporaryDir m_windowManagerHome;
    // Stopped first, while its display and Qt are still there.
    std::unique_ptr<ClientProcess> m_windowManager;
    std::string m_error;
};

// The editor of CaptureTestEditor.cpp, up and focused.
class Editor {
public:
    explicit Editor(DesktopSession& session, const QStringList& arguments)
        : m_process(QStringLiteral(NORIK_CAPTURE_TEST_EDITOR), arguments) {
        if (const auto window = m_process.waitForLine("window ")) {
            m_window = static_cast<xcb_window_t>(window->mid(7).toULongLong());
            m_focused = session.bringForward([this](xcb_window_t active) { return active == m_window; }) &&
                        m_process.waitForLine("focused").has_value();
        }
    }

    [[nodiscard]] bool ready() const { return m_focused; }
    [[nodiscard]] xcb_window_t window() const { return m_window; }
    ClientProcess& process() { return m_process; }

private:
    ClientProcess m_process;
    xcb_window_t m_window = XCB_NONE;
    bool m_focused = false;
};

// An xterm showing one line of text, in front, with that line selected (PRIMARY) as a triple click selects it
// unless `select` is false. The shell then reads one line from the terminal into a file: a Ctrl+C typed into the
// terminal ends it before that.
class Terminal {
public:
    Terminal(DesktopSession& session, const QString& line, bool select = true)
        : m_process(QStringLiteral("xterm"),
                    {"-geometry", "40x4", "-e", "sh", "-c",
                     QStringLiteral("printf '%1\\n'; : > ready; read reply && echo \"$reply\" > reply; exec sleep 600")
                         .arg(line)},
                    QString::fromStdString(m_folder.path().string())) {
        // Told apart by its process from an xterm of an earlier test that may not have gone yet.
        const auto pid = static_cast<xcb_window_t>(m_process.process().processId());
        if (!session.bringForward([&](xcb_window_t window) { return session.value(window, "_NET_WM_PID") == pid; })) {
            return;
        }
        const xcb_window_t window = session.activeWindow();
        // Typed before the shell runs, keys could still be flushed with the terminal's setting up.
        if (!waitUntil([&] { return std::filesystem::exists(m_folder.path() / "ready"); })) {
            return;
        }
        // Clicked again until xterm has drawn the line, which shows only as the PRIMARY it then owns.
        for (int attempt = 0; select && attempt < 20 && !m_selected; ++attempt) {
            session.click(window, 10, 6, 1, 3);
            m_selected =
                waitUntil([&] { return QGuiApplication::clipboard()->text(QClipboard::Selection).contains(line); }, 1s);
        }
        m_selected = m_selected || !select;
    }

    [[nodiscard]] bool ready() const { return m_selected; }
    // The line the shell read, once the user has typed it and pressed Return.
    [[nodiscard]] QByteArray reply() const {
        return QByteArray::fromStdString(readFile(m_folder.path() / "reply")).trimmed();
    }

private:
    TemporaryFolder m_folder;
    ClientProcess m_process;
    bool m_selected = false;
};

} // namespace norik::tests
