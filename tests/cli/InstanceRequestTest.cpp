// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>

#include "CliTestSupport.h"

#include "platform/instance/InstanceFolder.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/InstanceServer.h"

namespace norik::test {
namespace {

using platform::InstanceMessage;
using platform::InstanceRequest;

// `norik trigger`, `norik settings` and a second `norik` against an instance server in this process, which
// stands in for the tray app: the same socket, lock and folder, found through XDG_RUNTIME_DIR.
class InstanceRequestTest : public CliTest {
protected:
    InstanceRequestTest() {
        const std::filesystem::path runtime = m_root / "runtime";
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        m_environment["XDG_RUNTIME_DIR"] = runtime.string();
        const auto folder = platform::prepareInstanceFolder(runtime / "norik");
        EXPECT_TRUE(folder) << folder.error();
        m_folder = runtime / "norik";
    }

    // What the server received while `child` ran, and how the child ended.
    static std::pair<std::vector<InstanceMessage>, Outcome> serveWhileRunning(platform::InstanceServer& server,
                                                                              ChildProcess& child) {
        std::vector<InstanceMessage> received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{10};
        while (received.empty() && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{server.descriptor(), POLLIN, 0};
            if (::poll(&entry, 1, 100) > 0) {
                std::ranges::move(server.serve(), std::back_inserter(received));
            }
        }
        return {received, child.finish()};
    }

    std::filesystem::path m_folder;
};

TEST_F(InstanceRequestTest, TriggerAndSettingsReachTheRunningNorikAndFailWhenNoneRuns) {
    for (const InstanceRequest request : {InstanceRequest::trigger, InstanceRequest::settings}) {
        const std::string command(platform::requestText(request));
        const Outcome alone = norik({command});
        EXPECT_EQ(alone.exitCode, 1) << command;
        EXPECT_EQ(alone.err, "norik: Norik is not running; start it with `norik`.\n") << command;

        const auto lock = platform::InstanceLock::acquire(m_folder);
        ASSERT_TRUE(lock);
        auto server = platform::InstanceServer::listen(*lock);
        ASSERT_TRUE(server) << server.error();
        // As a launcher starts it: the running Norik completes that launch.
        m_environment["DESKTOP_STARTUP_ID"] = "launcher-7_TIME99";
        ChildProcess child(launch({command}));
        const auto [received, outcome] = serveWhileRunning(*server, child);
        m_environment.erase("DESKTOP_STARTUP_ID");
        EXPECT_EQ(received, (std::vector{InstanceMessage{request, "launcher-7_TIME99"}})) << command;
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out + outcome.err, "") << command;
    }
}

TEST_F(InstanceRequestTest, ASecondNorikAsksTheRunningOneForItsSettingsWithoutStartingTheDesktop) {
    const auto lock = platform::InstanceLock::acquire(m_folder);
    ASSERT_TRUE(lock);
    auto server = platform::InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();

    // No X server has this number: had the tray app been loaded, it would have failed to connect.
    m_environment["DISPLAY"] = ":97";
    m_environment["DESKTOP_STARTUP_ID"] = "launcher-8_TIME100";
    ChildProcess child(launch({}));
    const auto [received, outcome] = serveWhileRunning(*server, child);
    EXPECT_EQ(received, (std::vector{InstanceMessage{InstanceRequest::settings, "launcher-8_TIME100"}}));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
}

TEST_F(InstanceRequestTest, ADisplayThatIsSetButUnreachableIsReportedRatherThanCrashing) {
    m_environment["DISPLAY"] = ":97";
    const Outcome started = norik({});
    EXPECT_EQ(started.exitCode, 1) << started.err;
    EXPECT_TRUE(contains(started.err, "cannot connect to the X server :97")) << started.err;
    EXPECT_TRUE(contains(started.err, "norik review")) << started.err;
}

TEST_F(InstanceRequestTest, ARefusedInstanceFolderIsReportedWithTheReason) {
    std::filesystem::permissions(m_folder, std::filesystem::perms::group_all, std::filesystem::perm_options::add);
    const Outcome refused = norik({"trigger"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(contains(refused.err, m_folder.string() + " is open to other users")) << refused.err;
}

} // namespace
} // namespace norik::test
