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
#include <QStringList>
#include <QTemporaryDir>
#include <qtestsupport_core.h>
#include <sys/prctl.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace norik::tests {

using namespace std::chrono_literals;

// Generous: a loaded two-core machine may take seconds to start a client or to deliver an event.
inline constexpr auto eventTimeout = 20s;

// Runs the Qt event loop until the condition holds; false when the time-out passed first.
inline bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = eventTimeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

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
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;
    ~ClientProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The next line that starts with `prefix` (the others are kept for later), without the line break.
    std::optional<QByteArray> waitForLine(const QByteArray& prefix) {
        std::optional<QByteArray> found;
        spinUntil([&] {
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

    // Every line read so far.
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
class DesktopSession {
public:
    explicit DesktopSession(const std::vector<std::string>& serverArguments = {})
        : m_server(std::make_unique<XvfbServer>(serverArguments)) {
        if (!m_server->becomeQtDisplay()) {
            m_error = "Xvfb did not start";
            return;
        }
        ::unsetenv("WAYLAND_DISPLAY");
        m_application = std::make_unique<QApplication>(m_argc, m_argv.data());
        const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_connection = x11 != nullptr ? x11->connection() : nullptr;
        if (m_connection == nullptr) {
            m_error = "Qt did not connect to the X server";
            return;
        }
        m_root = platform::x11::rootWindow(m_connection, 0);
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
        if (!spinUntil([&] { return windowProperty(m_root, atom("_NET_SUPPORTING_WM_CHECK")) != XCB_NONE; })) {
            m_error = manager.toStdString() + " did not start";
        }
    }
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;
    ~DesktopSession() {
        m_windowManager.reset();
        m_application.reset();
    }

    // Empty when the session is up.
    [[nodiscard]] const std::string& error() const { return m_error; }
    [[nodiscard]] const std::string& display() const { return m_server->display(); }
    [[nodiscard]] xcb_connection_t* connection() const { return m_connection; }
    [[nodiscard]] xcb_window_t root() const { return m_root; }

    [[nodiscard]] xcb_window_t activeWindow() const { return windowProperty(m_root, atom("_NET_ACTIVE_WINDOW")); }
    [[nodiscard]] xcb_window_t clipboardOwner() const {
        const platform::x11::XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
            m_connection, xcb_get_selection_owner(m_connection, atom("CLIPBOARD")), nullptr));
        return reply ? reply->owner : XCB_NONE;
    }

    // As a task bar does when the user clicks a window's button.
    void activate(xcb_window_t window) const {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2; // from a pager, which window managers always obey
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(m_connection);
    }

    // As the window manager lists it in _NET_CLIENT_LIST, brought forward from the task bar should the window
    // manager hold it back (xfwm4 does when the window maps before it manages new ones).
    bool bringForward(const std::function<bool(xcb_window_t)>& isWanted) const {
        for (int attempt = 0; attempt < 40; ++attempt) {
            if (spinUntil([&] { return isWanted(activeWindow()); }, 500ms)) {
                return true;
            }
            for (const std::uint32_t client : values(m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)) {
                if (isWanted(client)) {
                    activate(client);
                }
            }
        }
        return false;
    }

    void fakeKey(std::uint8_t type, xcb_keycode_t key) const {
        xcb_test_fake_input(m_connection, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_connection);
    }

    // A key of the Xvfb keyboard itself rather than of the virtual XTEST keyboard beside it: it stands for a
    // physical key the user presses. `type` is XCB_INPUT_DEVICE_KEY_PRESS or _RELEASE. False without XInput 2.
    bool fakeDeviceKey(std::uint8_t type, xcb_keycode_t key) const {
        const platform::x11::XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
        const platform::x11::XcbReply<xcb_input_xi_query_device_reply_t> devices(xcb_input_xi_query_device_reply(
            m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL), nullptr));
        if (!version || !devices) {
            return false;
        }
        for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem != 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string name(xcb_input_xi_device_info_name(it.data),
                                   static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && !name.contains("XTEST")) {
                const std::uint8_t firstEvent = xcb_get_extension_data(m_connection, &xcb_input_id)->first_event;
                xcb_test_fake_input(m_connection, static_cast<std::uint8_t>(firstEvent + type), key, XCB_CURRENT_TIME,
                                    XCB_NONE, 0, 0, static_cast<std::uint8_t>(it.data->deviceid));
                xcb_flush(m_connection);
                return true;
            }
        }
        return false;
    }

    // The class part of a window's WM_CLASS.
    [[nodiscard]] QByteArray windowClass(xcb_window_t window) const {
        const QList<QByteArray> parts = bytes(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
        return parts.size() > 1 ? parts[1] : QByteArray();
    }

    [[nodiscard]] xcb_atom_t atom(const char* name) const { return platform::x11::internAtom(m_connection, name); }

    // The list of atoms in a window property.
    [[nodiscard]] QList<xcb_atom_t> windowAtoms(xcb_window_t window, const char* property) const {
        return values(window, atom(property), XCB_ATOM_ATOM);
    }

    // The windows listed in a window property, such as the window manager's _NET_CLIENT_LIST on the root.
    [[nodiscard]] QList<xcb_window_t> windowList(xcb_window_t window, const char* property) const {
        return values(window, atom(property), XCB_ATOM_WINDOW);
    }

    [[nodiscard]] xcb_window_t windowProperty(xcb_window_t window, xcb_atom_t property,
                                              xcb_atom_t type = XCB_ATOM_WINDOW) const {
        const QList<std::uint32_t> found = values(window, property, type);
        return found.isEmpty() ? XCB_NONE : found.front();
    }

private:
    [[nodiscard]] QByteArray bytes(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 1024), nullptr));
        return reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                  xcb_get_property_value_length(reply.get()))
                     : QByteArray();
    }

    // A property of 32-bit values: windows, atoms or cardinals.
    [[nodiscard]] QList<std::uint32_t> values(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
        const QByteArray raw = bytes(window, property, type);
        const auto* first = reinterpret_cast<const std::uint32_t*>(raw.constData());
        return {first, first + raw.size() / 4};
    }

    std::unique_ptr<XvfbServer> m_server;
    int m_argc = 1;
    std::string m_name = "norik-capture-tests";
    std::array<char*, 2> m_argv{m_name.data(), nullptr};
    std::unique_ptr<QApplication> m_application;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    QTemporaryDir m_windowManagerHome;
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
        if (!session.bringForward([&](xcb_window_t window) {
                return session.windowProperty(window, session.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL) == pid;
            })) {
            return;
        }
        m_window = session.activeWindow();
        // Typed before the shell runs, keys could still be flushed with the terminal's setting up.
        if (!spinUntil([&] { return std::filesystem::exists(m_folder.path() / "ready"); })) {
            return;
        }
        xcb_connection_t* connection = session.connection();
        // Clicked again until xterm has drawn the line, which shows only as the PRIMARY it then owns.
        for (int attempt = 0; select && attempt < 20 && !m_selected; ++attempt) {
            const platform::x11::XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
                connection, xcb_translate_coordinates(connection, m_window, session.root(), 10, 6), nullptr));
            xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, session.root(),
                                origin ? origin->dst_x : 0, origin ? origin->dst_y : 0, 0);
            for (int click = 0; click < 3; ++click) {
                xcb_test_fake_input(connection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
                xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
            }
            xcb_flush(connection);
            m_selected =
                spinUntil([&] { return QGuiApplication::clipboard()->text(QClipboard::Selection).contains(line); }, 1s);
        }
        m_selected = m_selected || !select;
    }

    [[nodiscard]] bool ready() const { return m_selected; }
    [[nodiscard]] xcb_window_t window() const { return m_window; }
    // The line the shell read, once the user has typed it and pressed Return.
    [[nodiscard]] QByteArray reply() const {
        return QByteArray::fromStdString(readFile(m_folder.path() / "reply")).trimmed();
    }

private:
    TemporaryFolder m_folder;
    ClientProcess m_process;
    xcb_window_t m_window = XCB_NONE;
    bool m_selected = false;
};

} // namespace norik::tests
