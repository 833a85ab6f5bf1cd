// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
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
using Reply = std::expected<void, RequestError>;

// Only bounds a wait that should end much sooner, so that a fault fails the test instead of hanging it.
constexpr std::chrono::seconds kPatience{10};

// A socket at `path`, connected to (`listening` false) or listening there but never accepting.
FileDescriptor unixSocket(const std::filesystem::path& path, bool listening) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(static_cast<char*>(address.sun_path), sizeof(address.sun_path) - 1);
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    EXPECT_EQ(listening ? ::bind(socket.get(), generic, sizeof(address)) | ::listen(socket.get(), 4)
                        : ::connect(socket.get(), generic, sizeof(address)),
              0);
    return socket;
}

class InstanceTest : public ::testing::Test {
protected:
    InstanceTest() { EXPECT_TRUE(prepareInstanceFolder(folder())); }

    [[nodiscard]] std::filesystem::path folder() const { return m_root.path() / "norik"; }
    [[nodiscard]] std::filesystem::path socketPath() const { return folder() / kInstanceSocketName; }

    struct Exchange {
        Reply reply;
        std::vector<InstanceMessage> served;
    };

    // Runs `send` on a thread of its own and serves whenever a client waits, until `send` has returned.
    static Exchange exchange(InstanceServer& server, const std::function<Reply()>& send) {
        Exchange result;
        std::array<int, 2> ends{};
        EXPECT_EQ(::pipe(ends.data()), 0);
        const FileDescriptor sent(ends[0]);
        std::jthread client([&, done = FileDescriptor(ends[1])]() mutable {
            result.reply = send();
            done.reset();
        });
        for (std::array<pollfd, 2> wait{{{server.descriptor(), POLLIN, 0}, {sent.get(), POLLIN, 0}}};
             ::poll(wait.data(), wait.size(), -1) > 0 && wait[1].revents == 0;) {
            std::ranges::move(server.serve(kPatience), std::back_inserter(result.served));
        }
        client.join();
        return result;
    }

    tests::TemporaryFolder m_root;
};

TEST_F(InstanceTest, TheFolderIsCreatedPrivateAndRefusedWhenOthersCouldPlantASocketInIt) {
    struct stat info {};
    ASSERT_EQ(::stat(folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700U);
    std::filesystem::create_directory_symlink(folder(), m_root.path() / "link");
    tests::writeFile(m_root.path() / "file", "");
    for (const auto& [name, mode, reason] :
         std::vector<std::tuple<std::string, mode_t, std::string>>{{"open", 0755, "open to other users (mode 0755)"},
                                                                   {"link", 0, "is not a folder"},
                                                                   {"file", 0, "is not a folder"}}) {
        const std::filesystem::path refused = m_root.path() / name;
        if (mode != 0) {
            std::filesystem::create_directory(refused);
            ::chmod(refused.c_str(), mode);
        }
        const auto prepared = prepareInstanceFolder(refused);
        ASSERT_FALSE(prepared) << refused;
        EXPECT_NE(prepared.error().find(refused.string()), std::string::npos) << prepared.error();
        EXPECT_NE(prepared.error().find(reason), std::string::npos) << prepared.error();
        EXPECT_TRUE(mode == 0 || (::stat(refused.c_str(), &info) == 0 && (info.st_mode & 07777) == mode))
            << "a refused folder is left as it was";
    }
}

TEST_F(InstanceTest, OneProcessHoldsTheLockUntilItEndsEvenByCrashing) {
    // _exit runs no destructors: the lock is left as a crash leaves it.
    ASSERT_EQ(tests::runInChildProcess([this]() -> int { ::_exit(InstanceLock::acquire(folder()) ? 0 : 1); }), 0);
    auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock) << "the lock of a process that ended is free";
    const auto held = [this] {
        const auto other = InstanceLock::acquire(folder());
        return !other && other.error().kind == LockError::Kind::held;
    };
    EXPECT_TRUE(held()) << "not even twice in one process";
    EXPECT_EQ(tests::runInChildProcess([&] { return held() ? 0 : 1; }), 0);
    lock = std::unexpected(LockError{});
    EXPECT_EQ(tests::runInChildProcess([this] { return InstanceLock::acquire(folder()) ? 0 : 1; }), 0);
}

// Which lines are understood is the parser's (fuzz_instance_request); handing them over, the command line's and
// the end-to-end tests'. Here: the server that replaces a crashed one's socket, and its answer to the rest.
TEST_F(InstanceTest, ASocketLeftByACrashedInstanceIsReplacedAndUnknownOrOverlongLinesAreRefused) {
    unixSocket(socketPath(), true).reset();
    EXPECT_EQ(sendToRunningInstance(folder(), InstanceRequest::trigger, kPatience).error().kind, Kind::noInstance);
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();
    EXPECT_EQ(exchange(*server, [this] { return sendRequest(folder(), "trigger", kPatience); }).served,
              (std::vector{InstanceMessage{InstanceRequest::trigger, ""}}));
    for (const std::string& unknown : {std::string("dance"), std::string(kMaxRequestLength + 1, 't')}) {
        const Exchange refused = exchange(*server, [&] { return sendRequest(folder(), unknown, kPatience); });
        ASSERT_FALSE(refused.reply) << unknown;
        EXPECT_EQ(refused.reply.error().kind, Kind::failed);
        EXPECT_TRUE(refused.served.empty());
    }
    server = std::unexpected(std::string());
    EXPECT_FALSE(std::filesystem::exists(socketPath())) << "the socket file goes with the server";
}

TEST_F(InstanceTest, AClientGivesUpOnAServerThatNeverAnswersOrOneStillStarting) {
    const FileDescriptor deaf = unixSocket(socketPath(), true);
    EXPECT_EQ(sendRequest(folder(), "trigger", 50ms).error().kind, Kind::timedOut);
    const auto lock = InstanceLock::acquire(folder());
    ::unlink(socketPath().c_str());
    EXPECT_EQ(sendToRunningInstance(folder(), InstanceRequest::settings, 50ms).error().kind, Kind::timedOut);
}

TEST_F(InstanceTest, AClientOfAStartingInstanceIsAnsweredOnceItListensAndASilentOneIsDropped) {
    const auto lock = InstanceLock::acquire(folder());
    ASSERT_TRUE(lock);
    Reply sent;
    std::jthread early([&] { sent = sendToRunningInstance(folder(), InstanceRequest::settings, kPatience); });
    auto server = InstanceServer::listen(*lock);
    ASSERT_TRUE(server) << server.error();
    const Exchange answered = exchange(*server, [&] {
        early.join();
        return sent;
    });
    EXPECT_TRUE(answered.reply) << answered.reply.error().message;
    EXPECT_EQ(answered.served, (std::vector{InstanceMessage{InstanceRequest::settings, ""}}));

    const FileDescriptor silent = unixSocket(socketPath(), false);
    EXPECT_TRUE(server->serve(20ms).empty());
    std::array<char, 16> buffer{};
    EXPECT_EQ(::recv(silent.get(), buffer.data(), buffer.size(), MSG_DONTWAIT), 0)
        << "the silent client was hung up on";
}

} // namespace
} // namespace norik::platform
