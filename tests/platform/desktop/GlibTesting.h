// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <csignal>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <initializer_list>

#include "platform/desktop/GioHandles.h"

#include "support/GlibSession.h"

namespace norik::platform::desktop {

// A python-dbusmock service on the session bus, from its arguments, running once it owns `name`.
class DbusMock {
public:
    DbusMock(std::initializer_list<const char*> arguments, const char* name) {
        std::vector<const char*> command{NORIK_TEST_PYTHON, "-m", "dbusmock"};
        command.insert(command.end(), arguments);
        command.push_back(nullptr);
        GError* raw = nullptr;
        m_process.reset(g_subprocess_newv(command.data(), G_SUBPROCESS_FLAGS_NONE, &raw));
        const GErrorPtr error(raw);
        EXPECT_NE(m_process, nullptr) << messageOf(error.get(), "python-dbusmock did not start");
        EXPECT_TRUE(m_process != nullptr && waitForBusName(name)) << name << " never appeared";
    }
    DbusMock(const DbusMock&) = delete;
    DbusMock& operator=(const DbusMock&) = delete;
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
