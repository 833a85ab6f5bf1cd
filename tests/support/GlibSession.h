// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <csignal>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/desktop/GioHandles.h"

namespace norik::platform::desktop {

// Runs GLib's default main context until `done` holds; false when the events stopped coming.
template <typename Predicate> bool iterateUntil(Predicate done) {
    bool expired = false;
    const guint timeout = g_timeout_add_seconds(
        10, [](gpointer flag) { return *static_cast<bool*>(flag) = true, G_SOURCE_REMOVE; }, &expired);
    while (!done() && !expired) {
        g_main_context_iteration(nullptr, TRUE);
    }
    if (!expired) {
        g_source_remove(timeout);
    }
    return done();
}

// Waits until `name` has an owner on the session bus.
inline bool waitForBusName(const char* name) {
    bool appeared = false;
    const guint watch = g_bus_watch_name(
        G_BUS_TYPE_SESSION, name, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; }, nullptr,
        &appeared, nullptr);
    const bool result = iterateUntil([&] { return appeared; });
    g_bus_unwatch_name(watch);
    return result;
}

// A session bus of the test's own for the object's life: tests run side by side, and their services take
// the same well-known names.
class PrivateSessionBus {
public:
    PrivateSessionBus() { g_test_dbus_up(m_bus.get()); }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;
    ~PrivateSessionBus() { g_test_dbus_down(m_bus.get()); }

private:
    GObjectPtr<GTestDBus> m_bus{g_test_dbus_new(G_TEST_DBUS_NONE)};
};

// A python-dbusmock service on the session bus, from its arguments, running once it owns `name`.
class DbusMock {
public:
    DbusMock(std::vector<const char*> arguments, const char* name) {
        arguments.insert(arguments.begin(), {NORIK_TEST_PYTHON, "-m", "dbusmock"});
        arguments.push_back(nullptr);
        m_process.reset(g_subprocess_newv(arguments.data(), G_SUBPROCESS_FLAGS_NONE, nullptr));
        EXPECT_TRUE(m_process != nullptr && waitForBusName(name)) << "python-dbusmock never served " << name;
    }
    ~DbusMock() {
        if (m_process != nullptr) {
            g_subprocess_send_signal(m_process.get(), SIGTERM);
            g_subprocess_wait(m_process.get(), nullptr, nullptr);
        }
    }

private:
    GObjectPtr<GSubprocess> m_process;
};

} // namespace norik::platform::desktop
