// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <csignal>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include "platform/desktop/GioHandles.h"
#include "platform/x11/XcbHandles.h"

#include "support/GlibSession.h"
#include "support/TestFiles.h"

namespace norik::platform::desktop {

enum class Compositor { mutter, sway };

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";

// A Wayland compositor, headless, with XWayland, on a session bus and runtime folder of its own: GNOME's
// mutter, or sway (wlroots), which refuses to run as root and so runs as nobody. A command it runs tells
// the test its X display, X authority and Wayland socket. mutter quits when that command ends, which is when
// the test closes its end of a pipe the command reads; sway is told to quit.
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
                ::chown(m_runtime.path().c_str(), kNobody, kNobody);
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

    // Selects `text` in a native Wayland client.
    void select(const std::string& text) const {
        const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
            G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_setenv(launcher.get(), "WAYLAND_DISPLAY", wayland.c_str(), TRUE);
        const GObjectPtr<GSubprocess> copy(
            g_subprocess_launcher_spawn(launcher.get(), nullptr, "wl-copy", "--primary", nullptr));
        ASSERT_NE(copy, nullptr) << "wl-copy is missing; run scripts/install-deps";
        GBytes* input = g_bytes_new(text.data(), text.size());
        EXPECT_TRUE(g_subprocess_communicate(copy.get(), input, nullptr, nullptr, nullptr, nullptr));
        g_bytes_unref(input);
        EXPECT_TRUE(g_subprocess_wait_check(copy.get(), nullptr, nullptr));
    }

    std::string display;
    std::string authority;
    // The socket's full path, which Wayland clients take as WAYLAND_DISPLAY.
    std::string wayland;

private:
    static constexpr uid_t kNobody = 65534;
    // The evdev code of the left Shift key.
    static constexpr guint32 kShift = 42;

    // mutter's seat gets its keyboard with the first virtual key event, made through its RemoteDesktop
    // interface; Wayland clients cannot set a selection on a seat without one.
    void addKeyboard() {
        ASSERT_TRUE(waitForBusName(kRemoteDesktop));
        m_session.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
        const GVariantPtr session(call("/org/gnome/Mutter/RemoteDesktop", "", "CreateSession", nullptr));
        ASSERT_NE(session, nullptr);
        const gchar* sessionPath = nullptr;
        g_variant_get(session.get(), "(&o)", &sessionPath);
        const std::string path = sessionPath;
        EXPECT_NE(call(path, ".Session", "Start", nullptr), nullptr);
        for (const gboolean pressed : {gboolean{TRUE}, gboolean{FALSE}}) {
            EXPECT_NE(call(path, ".Session", "NotifyKeyboardKeycode", g_variant_new("(ub)", kShift, pressed)), nullptr);
        }
    }
    [[nodiscard]] GVariantPtr call(const std::string& path, const std::string& interface, const char* method,
                                   GVariant* parameters) const {
        return GVariantPtr(g_dbus_connection_call_sync(m_session.get(), kRemoteDesktop, path.c_str(),
                                                       (kRemoteDesktop + interface).c_str(), method, parameters,
                                                       nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
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

// Announces each new owner of PRIMARY, so that the test reads only once XWayland has the selection.
class PrimaryOwnerChanges {
public:
    explicit PrimaryOwnerChanges(xcb_connection_t* connection) : m_connection(connection) {
        x11::XcbReply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        m_event = xcb_get_extension_data(connection, &xcb_xfixes_id)->first_event + XCB_XFIXES_SELECTION_NOTIFY;
        xcb_xfixes_select_selection_input(connection, x11::rootWindow(connection, 0), XCB_ATOM_PRIMARY,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        xcb_flush(connection);
    }
    void waitForNewOwner() const {
        while (xcb_generic_event_t* raw = xcb_wait_for_event(m_connection)) {
            const x11::XcbReply<xcb_generic_event_t> event(raw);
            if ((event->response_type & 0x7f) == m_event) {
                return;
            }
        }
        ADD_FAILURE() << "the X server went away";
    }

private:
    xcb_connection_t* m_connection;
    std::uint8_t m_event = 0;
};

} // namespace norik::platform::desktop
