// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/prctl.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include "platform/x11/XcbHandles.h"

#include "support/XvfbServer.h"

namespace norik::tests {

using namespace std::chrono_literals;

// Generous: a loaded two-core machine may take seconds to start a client or to deliver an event.
inline constexpr auto eventTimeout = 20s;

// Runs the Qt event loop until the condition holds or the time-out passes; true when it held.
inline bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = eventTimeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

// A client process whose standard output the test reads line by line while the event loop keeps running,
// so that Norik can answer the clipboard requests the client makes.
class ClientProcess {
public:
    ClientProcess(const QString& program, const QStringList& arguments) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test that crashes must not leave its clients behind on a shared machine.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program, arguments);
    }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;
    ~ClientProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    // The next line that starts with `prefix` (the others are kept for later), without the line break.
    std::optional<QByteArray> waitForLine(const QByteArray& prefix, std::chrono::milliseconds timeout = eventTimeout) {
        std::optional<QByteArray> found;
        spinUntil(
            [&] {
                while (m_process.canReadLine()) {
                    m_lines.append(m_process.readLine().trimmed());
                }
                for (qsizetype index = m_consumed; index < m_lines.size(); ++index) {
                    if (m_lines[index].startsWith(prefix)) {
                        found = m_lines[index];
                        m_consumed = index + 1;
                        return true;
                    }
                }
                return m_process.state() == QProcess::NotRunning && !m_process.canReadLine();
            },
            timeout);
        return found;
    }

    // Every line read so far.
    [[nodiscard]] const QList<QByteArray>& lines() {
        while (m_process.canReadLine()) {
            m_lines.append(m_process.readLine().trimmed());
        }
        return m_lines;
    }

    [[nodiscard]] bool running() const { return m_process.state() == QProcess::Running; }
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
        if (m_server->display().empty()) {
            m_error = "Xvfb did not start";
            return;
        }
        ::setenv("DISPLAY", m_server->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        m_application = std::make_unique<QApplication>(m_argc, m_argv.data());
        const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_connection = x11 != nullptr ? x11->connection() : nullptr;
        if (m_connection == nullptr) {
            m_error = "Qt did not connect to the X server";
            return;
        }
        m_root = platform::x11::rootWindow(m_connection, 0);
        m_activeWindowAtom = atom("_NET_ACTIVE_WINDOW");
        m_clipboardAtom = atom("CLIPBOARD");
        const xcb_atom_t wmCheck = atom("_NET_SUPPORTING_WM_CHECK");
        const QString manager = qEnvironmentVariable("NORIK_TEST_WINDOW_MANAGER", QStringLiteral("openbox"));
        if (manager == QLatin1String("kwin_x11")) {
            // Without compositing, as on a plain X server; what it writes goes to a folder of the session's own. Off
            // the session bus, where it would wait for a global shortcut service that cannot reach this display.
            qputenv("KWIN_COMPOSE", "N");
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_windowManagerHome.path()));
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        }
        m_windowManager = std::make_unique<ClientProcess>(
            manager, manager == QLatin1String("xfwm4")     ? QStringList{"--compositor=off", "--sm-client-disable"}
                     : manager == QLatin1String("openbox") ? QStringList{"--sm-disable"}
                                                           : QStringList{});
        if (!spinUntil([&] { return windowProperty(m_root, wmCheck) != XCB_NONE; })) {
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

    [[nodiscard]] xcb_window_t activeWindow() const { return windowProperty(m_root, m_activeWindowAtom); }
    [[nodiscard]] xcb_window_t clipboardOwner() const {
        const platform::x11::XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
            m_connection, xcb_get_selection_owner(m_connection, m_clipboardAtom), nullptr));
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

    void fakeKey(std::uint8_t type, xcb_keycode_t key) const {
        xcb_test_fake_input(m_connection, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_connection);
    }

    // A key of the Xvfb keyboard itself rather than of the virtual XTEST keyboard beside it: it stands for a
    // physical key the user presses. `type` is XCB_INPUT_DEVICE_KEY_PRESS or _RELEASE. False without XInput 2.
    bool fakeDeviceKey(std::uint8_t type, xcb_keycode_t key) const {
        const std::optional<std::uint8_t> device = keyboardDevice();
        if (!device) {
            return false;
        }
        const std::uint8_t firstEvent = xcb_get_extension_data(m_connection, &xcb_input_id)->first_event;
        xcb_test_fake_input(m_connection, static_cast<std::uint8_t>(firstEvent + type), key, XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, *device);
        xcb_flush(m_connection);
        return true;
    }

    [[nodiscard]] std::optional<std::uint8_t> keyboardDevice() const {
        const platform::x11::XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
        const platform::x11::XcbReply<xcb_input_xi_query_device_reply_t> devices(xcb_input_xi_query_device_reply(
            m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL), nullptr));
        if (!version || !devices) {
            return std::nullopt;
        }
        for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem != 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string name(xcb_input_xi_device_info_name(it.data),
                                   static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && !name.contains("XTEST")) {
                return static_cast<std::uint8_t>(it.data->deviceid);
            }
        }
        return std::nullopt;
    }

    // The class part of a window's WM_CLASS.
    [[nodiscard]] QByteArray windowClass(xcb_window_t window) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64),
            nullptr));
        if (!property) {
            return {};
        }
        const QList<QByteArray> parts = QByteArray(static_cast<const char*>(xcb_get_property_value(property.get())),
                                                   xcb_get_property_value_length(property.get()))
                                            .split('\0');
        return parts.size() > 1 ? parts[1] : QByteArray();
    }

    // Runs a command to its end; true when it exited with 0.
    static bool run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        return process.waitForFinished(static_cast<int>(std::chrono::milliseconds(eventTimeout).count())) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    [[nodiscard]] xcb_atom_t atom(const char* name) const { return platform::x11::internAtom(m_connection, name); }

    // The windows listed in a window property, such as the window manager's _NET_CLIENT_LIST on the root.
    [[nodiscard]] QList<xcb_window_t> windowList(xcb_window_t window, const char* property) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, atom(property), XCB_ATOM_WINDOW, 0, 1024),
            nullptr));
        if (!reply) {
            return {};
        }
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
        return {windows, windows + xcb_get_property_value_length(reply.get()) / 4};
    }

    // The list of atoms in a window property.
    [[nodiscard]] QList<xcb_atom_t> windowAtoms(xcb_window_t window, const char* property) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, atom(property), XCB_ATOM_ATOM, 0, 64), nullptr));
        if (!reply) {
            return {};
        }
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        return {atoms, atoms + xcb_get_property_value_length(reply.get()) / 4};
    }

    [[nodiscard]] xcb_window_t windowProperty(xcb_window_t window, xcb_atom_t property,
                                              xcb_atom_t type = XCB_ATOM_WINDOW) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 1), nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) != 4) {
            return XCB_NONE;
        }
        xcb_window_t value = XCB_NONE;
        std::memcpy(&value, xcb_get_property_value(reply.get()), sizeof value);
        return value;
    }

private:
    std::unique_ptr<XvfbServer> m_server;
    int m_argc = 1;
    std::string m_name = "norik-capture-tests";
    std::array<char*, 2> m_argv{m_name.data(), nullptr};
    std::unique_ptr<QApplication> m_application;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_atom_t m_activeWindowAtom = XCB_NONE;
    xcb_atom_t m_clipboardAtom = XCB_NONE;
    QTemporaryDir m_windowManagerHome;
    std::unique_ptr<ClientProcess> m_windowManager;
    std::string m_error;
};

// The editor of CaptureTestEditor.cpp, up and focused.
class Editor {
public:
    explicit Editor(DesktopSession& session, const QStringList& arguments)
        : m_process(QStringLiteral(NORIK_CAPTURE_TEST_EDITOR), arguments) {
        const auto window = m_process.waitForLine("window ");
        if (!window) {
            return;
        }
        m_window = static_cast<xcb_window_t>(window->mid(7).toULongLong());
        // A window manager may hold a new window back from the focus (xfwm4 does when the window maps before
        // it manages new ones), so the editor is brought forward as the user would, from the task bar.
        QElapsedTimer sinceAsked;
        m_focused = spinUntil([&] {
                        if (session.activeWindow() == m_window) {
                            return true;
                        }
                        if (!sinceAsked.isValid() || sinceAsked.elapsed() > 500) {
                            session.activate(m_window);
                            sinceAsked.start();
                        }
                        return false;
                    }) &&
                    m_process.waitForLine("focused").has_value();
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
// unless `select` is false.
class Terminal {
public:
    Terminal(DesktopSession& session, const QString& line, bool select = true)
        : m_process(QStringLiteral("xterm"), {"-geometry", "40x4", "-e", "sh", "-c",
                                              QStringLiteral("printf '%1\\n'; exec sleep 600").arg(line)}) {
        xcb_connection_t* connection = session.connection();
        // As for the editor: brought forward from the task bar should the window manager hold it back.
        QElapsedTimer sinceAsked;
        if (!spinUntil([&] {
                m_window = session.activeWindow();
                if (m_window != XCB_NONE && session.windowClass(m_window) == "XTerm") {
                    return true;
                }
                if (!sinceAsked.isValid() || sinceAsked.elapsed() > 500) {
                    for (const xcb_window_t client : session.windowList(session.root(), "_NET_CLIENT_LIST")) {
                        if (session.windowClass(client) == "XTerm") {
                            session.activate(client);
                        }
                    }
                    sinceAsked.start();
                }
                return false;
            })) {
            return;
        }
        m_selected = !select;
        if (!select) {
            return;
        }
        // Repeated until xterm has drawn the line and owns PRIMARY.
        QElapsedTimer sinceClick;
        m_selected = spinUntil([&] {
            if (QGuiApplication::clipboard()->text(QClipboard::Selection).contains(line)) {
                return true;
            }
            if (!sinceClick.isValid() || sinceClick.elapsed() > 1000) {
                const platform::x11::XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
                    connection, xcb_translate_coordinates(connection, m_window, session.root(), 10, 6), nullptr));
                if (origin) {
                    xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, session.root(),
                                        origin->dst_x, origin->dst_y, 0);
                    for (int click = 0; click < 3; ++click) {
                        xcb_test_fake_input(connection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
                        xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
                    }
                    xcb_flush(connection);
                }
                sinceClick.start();
            }
            return false;
        });
    }

    [[nodiscard]] bool ready() const { return m_selected; }
    [[nodiscard]] xcb_window_t window() const { return m_window; }
    [[nodiscard]] bool running() const { return m_process.running(); }

private:
    ClientProcess m_process;
    xcb_window_t m_window = XCB_NONE;
    bool m_selected = false;
};

} // namespace norik::tests
