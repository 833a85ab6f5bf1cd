// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

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

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
// The evdev code of the left Shift key.
constexpr guint32 kShift = 42;

// mutter --headless on a session bus of its own, its XWayland display and authority passed to the test
// by the command it runs. mutter quits when that command ends, which is when the test closes its end of a
// pipe the command reads.
class HeadlessMutter {
public:
    HeadlessMutter() {
        ::chmod(m_runtime.path().c_str(), 0700);
        ::mkfifo(lifeline().c_str(), 0600);
    }
    HeadlessMutter(const HeadlessMutter&) = delete;
    HeadlessMutter& operator=(const HeadlessMutter&) = delete;
    ~HeadlessMutter() {
        m_session.reset();
        if (m_mutter != nullptr) {
            // Read-write never blocks on a pipe, so this also frees a command that has not opened it yet.
            ::close(m_lifeline >= 0 ? m_lifeline : ::open(lifeline().c_str(), O_RDWR));
            g_subprocess_wait(m_mutter.get(), nullptr, nullptr);
        }
    }

    void start() {
        const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_setenv(launcher.get(), "XDG_RUNTIME_DIR", m_runtime.path().c_str(), TRUE);
        g_subprocess_launcher_unsetenv(launcher.get(), "DISPLAY");
        g_subprocess_launcher_unsetenv(launcher.get(), "WAYLAND_DISPLAY");
        GError* raw = nullptr;
        m_mutter.reset(g_subprocess_launcher_spawn(
            launcher.get(), &raw, "mutter", "--headless", "--wayland", "--virtual-monitor", "1024x768", "--", "/bin/sh",
            "-c", R"(printf '%s %s %s\n' "$DISPLAY" "$XAUTHORITY" "$WAYLAND_DISPLAY"; exec cat "$0" >/dev/null)",
            lifeline().c_str(), nullptr));
        const GErrorPtr error(raw);
        ASSERT_NE(m_mutter, nullptr) << messageOf(error.get(), "mutter did not start");
        m_output.reset(g_data_input_stream_new(g_subprocess_get_stdout_pipe(m_mutter.get())));
        gchar* line = g_data_input_stream_read_line_utf8(m_output.get(), nullptr, nullptr, nullptr);
        std::istringstream(line != nullptr ? line : "") >> display >> authority >> wayland;
        g_free(line);
        ASSERT_FALSE(wayland.empty()) << "mutter started no XWayland";
        m_lifeline = ::open(lifeline().c_str(), O_WRONLY | O_CLOEXEC);
        // A seat gets its keyboard with the first virtual key event; Wayland clients cannot set a
        // selection on a seat without one.
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

    // Selects `text` in a native Wayland client (wl-copy) or, with `x11`, in an X11 client (xclip).
    void select(const std::string& text, bool x11) const {
        const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
            G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
        g_subprocess_launcher_setenv(launcher.get(), "XDG_RUNTIME_DIR", m_runtime.path().c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "WAYLAND_DISPLAY", wayland.c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "DISPLAY", display.c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "XAUTHORITY", authority.c_str(), TRUE);
        const GObjectPtr<GSubprocess> copy(
            x11 ? g_subprocess_launcher_spawn(launcher.get(), nullptr, "xclip", "-selection", "primary", nullptr)
                : g_subprocess_launcher_spawn(launcher.get(), nullptr, "wl-copy", "--primary", nullptr));
        ASSERT_NE(copy, nullptr) << "wl-copy or xclip is missing; run scripts/install-deps";
        GBytes* input = g_bytes_new(text.data(), text.size());
        EXPECT_TRUE(g_subprocess_communicate(copy.get(), input, nullptr, nullptr, nullptr, nullptr));
        g_bytes_unref(input);
        EXPECT_TRUE(g_subprocess_wait_check(copy.get(), nullptr, nullptr));
    }

    std::string display;
    std::string authority;
    std::string wayland;

private:
    [[nodiscard]] GVariantPtr call(const std::string& path, const std::string& interface, const char* method,
                                   GVariant* parameters) const {
        return GVariantPtr(g_dbus_connection_call_sync(m_session.get(), kRemoteDesktop, path.c_str(),
                                                       (kRemoteDesktop + interface).c_str(), method, parameters,
                                                       nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    }
    [[nodiscard]] std::string lifeline() const { return (m_runtime.path() / "lifeline").string(); }

    PrivateSessionBus m_bus;
    tests::TemporaryFolder m_runtime;
    GObjectPtr<GSubprocess> m_mutter;
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
