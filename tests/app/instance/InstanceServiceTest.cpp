// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance/InstanceService.h"

#include <cstdlib>
#include <filesystem>
#include <future>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include "platform/instance/InstanceClient.h"
#include "platform/instance/InstanceFolder.h"

namespace norik::app {
namespace {

using Kind = InstanceService::ClaimError::Kind;

class InstanceServiceTest : public ::testing::Test {
protected:
    InstanceServiceTest() {
        // handOverToRunningInstance finds the running instance the way a second `norik` does.
        ::setenv("XDG_RUNTIME_DIR", m_root.path().c_str(), 1); // NOLINT(concurrency-mt-unsafe): before any thread
        const auto folder = platform::instanceFolder();
        EXPECT_TRUE(folder) << folder.error();
        m_folder = folder.value_or(std::filesystem::path());
    }

    tests::TemporaryFolder m_root;
    std::filesystem::path m_folder;
};

TEST_F(InstanceServiceTest, RequestsBecomeSignalsAndALaterClaimHandsOverToTheFirst) {
    auto service = InstanceService::claim();
    ASSERT_TRUE(service) << service.error().message;
    QSignalSpy triggered(service->get(), &InstanceService::triggerRequested);
    QSignalSpy settings(service->get(), &InstanceService::settingsRequested);

    auto sent = std::async(std::launch::async, [this] {
        return platform::sendRequest(m_folder, platform::requestText(platform::InstanceRequest::trigger),
                                     std::chrono::seconds{10});
    });
    EXPECT_TRUE(triggered.wait(10000));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(settings.count(), 0);

    const auto second = InstanceService::claim(m_folder);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind, Kind::anotherInstance);
    auto handedOver = std::async(std::launch::async, [&second] { return handOverToRunningInstance(second.error()); });
    EXPECT_TRUE(settings.wait(10000));
    EXPECT_EQ(handedOver.get(), EXIT_SUCCESS);
    EXPECT_EQ(triggered.count(), 1);

    service->reset();
    EXPECT_TRUE(InstanceService::claim(m_folder)) << "the lock goes with the service";
}

TEST_F(InstanceServiceTest, AnUnusableFolderIsAFailureRatherThanAnotherInstance) {
    const std::filesystem::path open = m_root.path() / "open";
    std::filesystem::create_directory(open);
    std::filesystem::permissions(open, std::filesystem::perms::all);
    const auto refused = InstanceService::claim(open);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Kind::failed);
    EXPECT_EQ(handOverToRunningInstance(refused.error()), EXIT_FAILURE);
}

} // namespace
} // namespace norik::app
