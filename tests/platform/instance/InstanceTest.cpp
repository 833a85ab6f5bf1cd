// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/instance/FileDescriptor.h"
#include "platform/instance/InstanceClient.h"
#include "platform/instance/InstanceFolder.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/InstanceServer.h"

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

using namespace std::chrono_literals;
using Kind = RequestError::Kind;

// Only bounds a wait that should end much sooner, so that a fault fails the test instead of hanging it.
constexpr std::chrono::seconds kPatience{10};

mode_t permissions(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A socket at `path` that listens but never accepts: the kernel completes connections and nobody reads.
FileDescriptor deafListener(const std::filesystem::path& path) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(static_cast<char*>(address.sun_path), sizeof(address.sun_path) - 1);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes a generic address
    EXPECT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(::listen(socket.get(), 4), 0);
    return socket;
}

FileDescriptor connectTo(const std::filesystem::path& path) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(static_cast<char*>(address.sun_path), sizeof(address.sun_path) - 1);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes a generic address
    EXPECT_EQ(::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return socket;
}

class InstanceTest : public ::testing::Test {
protected:
    InstanceTest() {
        const auto prepared = prepareInstanceFolder(m_root.path() / "norik");
        EXPECT_TRUE(prepared) << prepared.error();
    }

    [[nodiscard]] std::filesystem::path folder() const { return m_root.path() / "norik"; }
    [[nodiscard]] std::filesystem::path socketPath() const { return folder() / kInstanceSocketName; }

    struct Exchange {
        std::expected<void, RequestError> reply;
        std::vector<InstanceMessage> served;
    };

    // Runs `send` on a thread of its own while serving as an event loop would, until `send` returns.
    static Exchange exchange(InstanceServer& server, const std::function<std::expected<void, RequestError>()>& send,
                             std::chrono::milliseconds clientTimeout = InstanceServer::kClientTimeout) {
        Exchange result;
        std::atomic<bool> done = false;
        std::jthread client([&] {
            result.reply = send();
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!done && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{server.descriptor(), POLLIN, 0};
            if (::poll(&entry, 1, 10) > 0) {
                std::ranges::move(server.serve(clientTimeout), std::back_inserter(result.served));
            }
        }
        client.join();
        return result;
    }

    [[nodiscard]] std::function<std::expected<void, RequestError>()> request(std::string line) const {
        return [this, line] { return sendRequest(folder(), line, kPatience); };
    }

    tests::TemporaryFolder m_root;
};

TEST_F(InstanceTest, TheFolderIsCreatedPrivateAndRefusedWhenOthersCouldPlantASocketInIt) {
    EXPECT_EQ(permissions(folder()), 0700U);

    const std::filesystem::path open = m_root.path() / "open";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0755);
    const std::filesystem::path groupWritable = m_root.path() / "group";
    std::filesystem::create_directory(groupWritable);
    ::chmod(groupWritable.c_str(), 0770);
    const std::filesystem::path link = m_root.path() / "link";
    std::filesystem::create_directory_symlink(folder(), link);
    const std::filesystem::path file = m_root.path() / "file";
    tests::writeFile(file, "");
    for (const auto& [refused, reason] :
         std::vector<std::pair<std::filesystem::path, std::string>>{{open, "open to other users (mode 0755)"},
                                                                    {groupWritable, "open to other users (mode 0770)"},
                                                                    {link, "is not a folder"},
                                                                    {file, "is not a folder"}}) {
        const auto prepared = prepareInstanceFolder(refused);
        ASSERT_FALSE(prepared) << refused;
        EXPECT_NE(prepared.error().find(refused.string()), std::string::npos) << prepared.error();
        EXPECT_NE(prepared.error().find(reason), std::string::npos) << prepared.error();
    }
    EXPECT_EQ(permissions(open), 0755U) << "a refused folder is left as it was";

    ::setenv("XDG_RUNTIME_DIR", m_root.path().c_str(), 1); // NOLINT(concurrency-mt-unsafe): no other threads
    EXPECT_EQ(instanceFolder(), folder());
    ::unsetenv("XDG_RUNTIME_DIR"); // NOLINT(concurrency-mt-unsafe): no other threads
}

TEST_F(InstanceTest, OneProcessHoldsTheLockUntilItEndsEvenByCrashing) {
    const auto holderPid = tests::startChildProcess([this]() -> int {
        const auto lock = InstanceLock::acquire(folder());
        // Ends without releasing anything, as a crash would: _exit runs no destructors.
        ::_exit(lock ? 0 : 1);
    });
    ASSERT_EQ(tests::waitForChildProcess(holderPid), 0);

    auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock) << "the lock of a process that ended is free";
    EXPECT_EQ(InstanceLock::isHeld(folder()), true);
    const auto again = InstanceLock::acquire(folder());
    EXPECT_TRUE(!again && again.error().kind == LockError::Kind::held) << "not even twice in one process";
    EXPECT_EQ(tests::runInChildProcess([this] {
                  const auto other = InstanceLock::acquire(folder());
                  return !other && other.error().kind == LockError::Kind::held ? 0 : 1;
              }),
              0);

    lock = std::unexpected(LockError{});
    EXPECT_EQ(InstanceLock::isHeld(folder()), false);
    EXPECT_EQ(tests::runInChildProcess([this] { return InstanceLock::acquire(folder()) ? 0 : 1; }), 0);
}

TEST_F(InstanceTest, EachRequestIsAnsweredAndDeliveredAndAnUnknownOneRefused) {
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();

    for (const InstanceMessage& sent :
         {InstanceMessage{InstanceRequest::trigger, ""}, InstanceMessage{InstanceRequest::settings, ""},
          InstanceMessage{InstanceRequest::settings, "launcher-4711_TIME123456"}}) {
        const Exchange answered = exchange(*server, request(requestLine(sent)));
        EXPECT_TRUE(answered.reply) << answered.reply.error().message;
        EXPECT_EQ(answered.served, std::vector{sent}) << requestLine(sent);
    }

    for (const std::string& unknown : std::vector<std::string>{"dance", "", "settings ", "settings two words",
                                                               std::string(kMaxRequestLength + 1, 't')}) {
        const Exchange refused = exchange(*server, request(unknown));
        ASSERT_FALSE(refused.reply) << unknown;
        EXPECT_EQ(refused.reply.error().kind, Kind::failed);
        EXPECT_TRUE(refused.reply.error().message.starts_with("Norik refused the request: "))
            << refused.reply.error().message;
        EXPECT_TRUE(refused.served.empty());
    }

    server = std::unexpected(std::string());
    EXPECT_FALSE(std::filesystem::exists(socketPath())) << "the socket file goes with the server";
}

TEST_F(InstanceTest, ASocketLeftByACrashedInstanceMeansNotRunningAndIsReplaced) {
    { const FileDescriptor crashed = deafListener(socketPath()); }
    ASSERT_TRUE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(sendRequest(folder(), "trigger", kPatience).error().kind, Kind::noInstance);
    EXPECT_EQ(sendToRunningInstance(folder(), InstanceRequest::trigger, kPatience).error().kind, Kind::noInstance);

    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();
    const Exchange answered = exchange(*server, request("trigger"));
    EXPECT_TRUE(answered.reply) << answered.reply.error().message;
    EXPECT_EQ(answered.served, (std::vector{InstanceMessage{InstanceRequest::trigger, ""}}));
}

TEST_F(InstanceTest, AClientGivesUpOnAServerThatNeverAnswers) {
    const FileDescriptor deaf = deafListener(socketPath());
    const auto sent = sendRequest(folder(), "trigger", 50ms);
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().kind, Kind::timedOut);

    // The lock is held but nothing listens: an instance that is starting, given a little time, then given up.
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    ::unlink(socketPath().c_str());
    const auto waited = sendToRunningInstance(folder(), InstanceRequest::settings, 50ms);
    ASSERT_FALSE(waited);
    EXPECT_EQ(waited.error().kind, Kind::timedOut);
    EXPECT_NE(waited.error().message.find("starting"), std::string::npos) << waited.error().message;
}

TEST_F(InstanceTest, AClientOfAStartingInstanceIsAnsweredOnceItListens) {
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    std::expected<void, RequestError> sent;
    std::jthread client([&] { sent = sendToRunningInstance(folder(), InstanceRequest::settings, kPatience); });
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();
    // The client may already have gone before the loop starts; then nothing is left to serve.
    const Exchange rest = exchange(*server, [&] {
        client.join();
        return sent;
    });
    EXPECT_TRUE(rest.reply) << rest.reply.error().message;
    EXPECT_EQ(rest.served, (std::vector{InstanceMessage{InstanceRequest::settings, ""}}));
}

TEST_F(InstanceTest, ASilentClientIsDroppedAndTheNextOneAnswered) {
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();

    const FileDescriptor silent = connectTo(socketPath());
    const Exchange answered = exchange(*server, request("trigger"), 20ms);
    EXPECT_TRUE(answered.reply) << answered.reply.error().message;
    EXPECT_EQ(answered.served, (std::vector{InstanceMessage{InstanceRequest::trigger, ""}}));

    std::array<char, 16> buffer{};
    EXPECT_EQ(::recv(silent.get(), buffer.data(), buffer.size(), MSG_DONTWAIT), 0)
        << "the silent client was hung up on";
}

} // namespace
} // namespace norik::platform
