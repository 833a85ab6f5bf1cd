// SPDX-License-Identifier: GPL-3.0-or-later
// A headless Wayland compositor with norik on its XWayland and no tray, so that norik opens its settings window at
// start; text then selected in a native Wayland window, which no synthetic Copy reaches, is reviewed on `norik
// trigger`. mutter hands XWayland the selection; sway, with no X11 window focused, only data-control does.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include "platform/desktop/GioHandles.h"
#include "platform/x11/XcbHandles.h"

#include "support/GlibSession.h"
#include "support/LoopbackServer.h"
#include "support/TestFiles.h"
#include "support/X11Client.h"

namespace norik::platform::desktop {
namespace {

enum class Compositor { mutter, sway };

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr int kCommandMs = 20'000;

// mutter, or sway (wlroots), which refuses to run as root and so runs as nobody, with XWayland, on a session bus
// and runtime folder of their own. A command it runs reports the X display, X authority and Wayland socket.
// mutter quits when that command ends, once the test closes a pipe the command reads; sway is told to quit.
class HeadlessCompositor {
public:
    explicit HeadlessCompositor(Compositor kind) : m_kind(kind) {
        ::chmod(m_runtime.path().c_str(), 0700);
        ::mkfifo(lifeline().c_str(), 0600);
    }
    ~HeadlessCompositor() {
        m_session.reset();
        if (m_process != nullptr && m_kind == Compositor::sway) {
            g_subprocess_send_signal(m_process.get(), SIGTERM);
        } else if (m_process != nullptr) {
            // Read-write never blocks on a pipe, so this also frees a command that has not opened it yet.
            ::close(m_lifeline >= 0 ? m_lifeline : ::open(lifeline().c_str(), O_RDWR));
        }
        if (m_process != nullptr) {
            g_subprocess_wait(m_process.get(), nullptr, nullptr);
        }
    }

    void start() {
        const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_setenv(launcher.get(), "XDG_RUNTIME_DIR", m_runtime.path().c_str(), TRUE);
        g_subprocess_launcher_unsetenv(launcher.get(), "DISPLAY");
        g_subprocess_launcher_unsetenv(launcher.get(), "WAYLAND_DISPLAY");
        const std::string report = R"(printf '%s %s %s\n' "$DISPLAY" "${XAUTHORITY:-/dev/null}" )"
                                   R"("$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY")";
        GError* raw = nullptr;
        if (m_kind == Compositor::mutter) {
            m_process.reset(g_subprocess_launcher_spawn(
                launcher.get(), &raw, "mutter", "--headless", "--wayland", "--virtual-monitor", "1024x768", "--",
                "/bin/sh", "-c", (report + R"(; exec cat "$0" >/dev/null)").c_str(), lifeline().c_str(), nullptr));
        } else {
            // XWayland admits only sway's user until told otherwise.
            tests::writeFile(file("report"),
                             "xhost +si:localuser:" + std::string(g_get_user_name()) + " >/dev/null\n" + report);
            tests::writeFile(file("config"), "xwayland force\nexec sh " + file("report") + "\n");
            g_subprocess_launcher_setenv(launcher.get(), "WLR_BACKENDS", "headless", TRUE);
            g_subprocess_launcher_setenv(launcher.get(), "WLR_LIBINPUT_NO_DEVICES", "1", TRUE);
            g_subprocess_launcher_setenv(launcher.get(), "WLR_RENDERER", "pixman", TRUE);
            const std::string config = file("config");
            std::vector<const char*> command{"sway", "-c", config.c_str(), nullptr};
            if (::geteuid() == 0) {
                ::chown(m_runtime.path().c_str(), 65534, 65534);
                command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
            }
            m_process.reset(g_subprocess_launcher_spawnv(launcher.get(), command.data(), &raw));
        }
        const GErrorPtr error(raw);
        ASSERT_NE(m_process, nullptr) << messageOf(error.get(), "the compositor did not start");
        m_output.reset(g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_process.get())));
        gchar* line = g_data_input_stream_read_line_utf8(m_output.get(), nullptr, nullptr, nullptr);
        std::istringstream(line != nullptr ? line : "") >> display >> authority >> wayland;
        g_free(line);
        ASSERT_FALSE(display.empty()) << "the compositor started no XWayland";
        if (m_kind == Compositor::mutter) {
            m_lifeline = ::open(lifeline().c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_NO_FATAL_FAILURE(addKeyboard());
        }
    }

    // Selects `text` in a native Wayland client, and returns once XWayland, watched on `connection`, has taken
    // PRIMARY over: only then is the selection there to be read.
    void select(const std::string& text, xcb_connection_t* connection) const {
        const x11::XcbReply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        const auto newOwner =
            xcb_get_extension_data(connection, &xcb_xfixes_id)->first_event + XCB_XFIXES_SELECTION_NOTIFY;
        xcb_xfixes_select_selection_input(connection, x11::rootWindow(connection, 0), XCB_ATOM_PRIMARY,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        xcb_flush(connection);
        const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
            G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_setenv(launcher.get(), "WAYLAND_DISPLAY", wayland.c_str(), TRUE);
        const GObjectPtr<GSubprocess> copy(
            g_subprocess_launcher_spawn(launcher.get(), nullptr, "wl-copy", "--primary", nullptr));
        ASSERT_NE(copy, nullptr) << "wl-copy is missing; run scripts/install-deps";
        EXPECT_TRUE(g_subprocess_communicate_utf8(copy.get(), text.c_str(), nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(g_subprocess_wait_check(copy.get(), nullptr, nullptr));
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
            if ((x11::XcbReply<xcb_generic_event_t>(event)->response_type & 0x7f) == newOwner) {
                return;
            }
        }
        ADD_FAILURE() << "the X server went away";
    }

    std::string display;
    std::string authority;
    // The socket's full path, which Wayland clients take as WAYLAND_DISPLAY.
    std::string wayland;

private:
    // The evdev code of the left Shift key.
    static constexpr guint32 kShift = 42;

    // mutter's seat gets its keyboard with the first virtual key event, made through its RemoteDesktop
    // interface; Wayland clients cannot set a selection on a seat without one. The session lasts as long as
    // the connection that made it.
    void addKeyboard() {
        ASSERT_TRUE(waitForBusName(kRemoteDesktop));
        m_session.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
        const auto call = [&](const std::string& path, const std::string& interface, const char* method,
                              GVariant* parameters) {
            return GVariantPtr(g_dbus_connection_call_sync(m_session.get(), kRemoteDesktop, path.c_str(),
                                                           (kRemoteDesktop + interface).c_str(), method, parameters,
                                                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        };
        const GVariantPtr session(call("/org/gnome/Mutter/RemoteDesktop", "", "CreateSession", nullptr));
        ASSERT_NE(session, nullptr);
        const gchar* sessionPath = nullptr;
        g_variant_get(session.get(), "(&o)", &sessionPath);
        EXPECT_NE(call(sessionPath, ".Session", "Start", nullptr), nullptr);
        for (const gboolean pressed : {gboolean{TRUE}, gboolean{FALSE}}) {
            EXPECT_NE(call(sessionPath, ".Session", "NotifyKeyboardKeycode", g_variant_new("(ub)", kShift, pressed)),
                      nullptr);
        }
    }
    [[nodiscard]] std::string file(const char* name) const { return (m_runtime.path() / name).string(); }
    [[nodiscard]] std::string lifeline() const { return file("lifeline"); }

    Compositor m_kind;
    PrivateSessionBus m_bus;
    tests::TemporaryFolder m_runtime;
    GObjectPtr<GSubprocess> m_process;
    GObjectPtr<GDataInputStream> m_output;
    int m_lifeline = -1;
    GObjectPtr<GDBusConnection> m_session;
};

// The window the window manager reports active once there is one, or once there is none (while a Wayland
// window or none has the focus), waiting for each change of the root's properties.
xcb_window_t waitForActiveWindow(const tests::X11Client& desktop, bool some) {
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(desktop.connection(), desktop.root(), XCB_CW_EVENT_MASK, &mask);
    while (true) {
        const xcb_window_t window = desktop.value(desktop.root(), "_NET_ACTIVE_WINDOW");
        if ((window != XCB_NONE) == some) {
            return window;
        }
        if (!x11::XcbReply<xcb_generic_event_t>(xcb_wait_for_event(desktop.connection()))) {
            ADD_FAILURE() << "the X server went away";
            return XCB_NONE;
        }
    }
}

int runNorik(const QProcessEnvironment& environment, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(NORIK_E2E_NORIK), arguments);
    return process.waitForFinished(kCommandMs) && process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                                               : -1;
}

class WaylandReview : public ::testing::TestWithParam<Compositor> {};

TEST_P(WaylandReview, TheTriggerCommandReviewsTheSelectionOfANativeWaylandWindow) {
    HeadlessCompositor compositor(GetParam());
    ASSERT_NO_FATAL_FAILURE(compositor.start());
    // Whatever the model server answers, the review has begun once it has the request.
    const test::LoopbackServer server;
    const QTemporaryDir home; // private, as a runtime folder must be
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The keyring stays out of the test; the local provider needs no key.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "DBUS_SESSION_BUS_ADDRESS"}) {
        environment.remove(QString::fromLatin1(name));
    }
    for (const auto& [name, value] : {std::pair{"HOME", home.path()},
                                      {"XDG_RUNTIME_DIR", home.path()},
                                      {"XDG_SESSION_TYPE", "wayland"},
                                      {"XDG_CURRENT_DESKTOP", GetParam() == Compositor::mutter ? "GNOME" : "sway"},
                                      {"DISPLAY", QString::fromStdString(compositor.display)},
                                      {"XAUTHORITY", QString::fromStdString(compositor.authority)},
                                      {"WAYLAND_DISPLAY", QString::fromStdString(compositor.wayland)}}) {
        environment.insert(QString::fromLatin1(name), value);
    }
    for (const QStringList& setting :
         {QStringList{"provider", "local"}, QStringList{"localEndpoint", QString::fromStdString(server.baseUrl())},
          QStringList{"model.local", "llama3"}, QStringList{"hasCompletedOnboarding", "true"}}) {
        ASSERT_EQ(runNorik(environment, QStringList{"config", "set"} + setting), 0);
    }

    QProcess norik;
    norik.setProcessEnvironment(environment);
    norik.setProcessChannelMode(QProcess::ForwardedChannels);
    norik.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    norik.start(QStringLiteral(NORIK_E2E_NORIK), QStringList{});
    ASSERT_TRUE(norik.waitForStarted(kCommandMs));
    // With no tray to click, norik, the compositor's only X11 client, opens its settings window at once;
    // closed, no X11 window is active.
    const tests::ScopedEnvironment restore({"XAUTHORITY"});
    tests::ScopedEnvironment::set("XAUTHORITY", compositor.authority.c_str());
    auto desktop = x11::XcbConnection::open(compositor.display.c_str());
    ASSERT_TRUE(desktop) << desktop.error();
    const tests::X11Client xwayland(desktop->get());
    const xcb_window_t settings = waitForActiveWindow(xwayland, true);
    xwayland.send(settings, XCB_EVENT_MASK_NO_EVENT, settings, xwayland.atom("WM_PROTOCOLS"),
                  {xwayland.atom("WM_DELETE_WINDOW")});
    waitForActiveWindow(xwayland, false);

    const QString sentence = QStringLiteral("Él va a l'école chaque jours.");
    compositor.select(sentence.toStdString(), desktop->get());
    ASSERT_EQ(runNorik(environment, {"trigger"}), 0);
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds{20})) << "no review request reached the model server";
    // Read back through Qt's writer, so that the sentence is found however the request escaped it.
    const QByteArray request =
        QJsonDocument::fromJson(QByteArray::fromStdString(server.requests().front().body)).toJson();
    EXPECT_TRUE(request.contains(sentence.toUtf8())) << request.toStdString();
    norik.terminate();
    norik.waitForFinished(kCommandMs);
}

INSTANTIATE_TEST_SUITE_P(Compositors, WaylandReview, ::testing::Values(Compositor::mutter, Compositor::sway),
                         [](const auto& row) { return row.param == Compositor::mutter ? "Mutter" : "Sway"; });

} // namespace
} // namespace norik::platform::desktop
