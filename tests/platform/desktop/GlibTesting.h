// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <csignal>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/desktop/GioHandles.h"

#include "support/GlibSession.h"

namespace norik::platform::desktop {

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
