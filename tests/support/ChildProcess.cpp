// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ChildProcess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norik::test {

namespace {

// Both ends of a pipe or a pseudo-terminal: `parent` stays with the test, `child` becomes a standard stream.
struct Channel {
    int parent = -1;
    int child = -1;
};

Channel openChannel(bool terminal, bool childReads) {
    std::array<int, 2> ends{-1, -1};
    if (terminal) {
        EXPECT_EQ(::openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr), 0) << std::strerror(errno);
        ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
        return {ends[0], ends[1]};
    }
    EXPECT_EQ(::pipe2(ends.data(), O_CLOEXEC), 0) << std::strerror(errno);
    return childReads ? Channel{ends[1], ends[0]} : Channel{ends[0], ends[1]};
}

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (const std::string& string : strings) {
        result.push_back(const_cast<char*>(string.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

// Appends what `descriptor` has; false at its end. A terminal master reports the end as EIO.
bool drain(int descriptor, std::string& into) {
    std::array<char, 65536> buffer{};
    const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
    if (count > 0) {
        into.append(buffer.data(), static_cast<std::size_t>(count));
        return true;
    }
    return count < 0 && (errno == EINTR || errno == EAGAIN);
}

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) {
        ::close(std::exchange(descriptor, -1));
    }
}

} // namespace

ChildProcess::ChildProcess(const Launch& launch)
    : m_inputIsTerminal(launch.inputOnTerminal), m_pendingInput(launch.input) {
    // A child that exits without reading all of its input must not take the test down with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    Channel input = openChannel(launch.inputOnTerminal, true);
    Channel output = openChannel(false, false);
    Channel errors = openChannel(false, false);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.child, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.child, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors.child, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    auto argv = pointers(launch.arguments);
    auto envp = pointers(launch.environment);
    const int spawned = ::posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(),
                                      launch.environment.empty() ? environ : envp.data());
    EXPECT_EQ(spawned, 0) << "cannot start " << argv[0] << ": " << std::strerror(spawned);
    if (spawned != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int* end : {&input.child, &output.child, &errors.child}) {
        closeDescriptor(*end);
    }
    m_input = input.parent;
    m_output = output.parent;
    m_errors = errors.parent;
    ::fcntl(m_input, F_SETFL, O_NONBLOCK);
    if (!m_inputIsTerminal && m_pendingInput.empty()) {
        closeDescriptor(m_input);
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    for (int* descriptor : {&m_input, &m_output, &m_errors}) {
        closeDescriptor(*descriptor);
    }
}

void ChildProcess::type(std::string_view text) {
    m_pendingInput.append(text);
    EXPECT_TRUE(pump(std::chrono::steady_clock::now() + std::chrono::seconds{10}, [this] {
        return m_written == m_pendingInput.size();
    })) << "the child took no input";
}

bool ChildProcess::waitForErrors(std::string_view text, std::chrono::milliseconds timeout) {
    return pump(std::chrono::steady_clock::now() + timeout,
                [this, text] { return m_outcome.err.find(text) != std::string::npos; });
}

bool ChildProcess::pump(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& done) {
    for (;;) {
        if (done()) {
            return true;
        }
        const bool inputWritten = m_written == m_pendingInput.size();
        if (inputWritten && !m_inputIsTerminal) {
            closeDescriptor(m_input);
        }
        if (m_output < 0 && m_errors < 0) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        short inputEvents = m_inputIsTerminal ? POLLIN : 0;
        if (!inputWritten) {
            inputEvents |= POLLOUT;
        }
        std::array<pollfd, 3> watched{pollfd{m_output, POLLIN, 0}, pollfd{m_errors, POLLIN, 0},
                                      pollfd{m_input, inputEvents, 0}};
        if (::poll(watched.data(), watched.size(), static_cast<int>(left.count())) < 0) {
            continue;
        }
        if (watched[0].revents != 0 && !drain(m_output, m_outcome.out)) {
            closeDescriptor(m_output);
        }
        if (watched[1].revents != 0 && !drain(m_errors, m_outcome.err)) {
            closeDescriptor(m_errors);
        }
        if (m_inputIsTerminal && (watched[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !drain(m_input, m_outcome.echo)) {
            closeDescriptor(m_input);
            m_written = m_pendingInput.size();
        }
        if (!inputWritten && m_input >= 0 && (watched[2].revents & (POLLOUT | POLLERR)) != 0) {
            const ssize_t count =
                ::write(m_input, m_pendingInput.data() + m_written, m_pendingInput.size() - m_written);
            if (count > 0) {
                m_written += static_cast<std::size_t>(count);
            } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
                m_written = m_pendingInput.size(); // the child stopped reading; the rest is not wanted
            }
        }
    }
}

Outcome ChildProcess::finish(std::chrono::milliseconds timeout) {
    pump(std::chrono::steady_clock::now() + timeout, [] { return false; });
    if (m_output >= 0 || m_errors >= 0) {
        ADD_FAILURE() << "the child did not finish in time; killing it";
        ::kill(m_pid, SIGKILL);
    }
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid) {
        m_outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    m_pid = -1;
    while (m_inputIsTerminal && m_input >= 0 && drain(m_input, m_outcome.echo)) {
    }
    return m_outcome;
}

} // namespace norik::test
