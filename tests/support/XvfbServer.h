// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norik::tests {

// A private X server on a free display, stopped on destruction. Xvfb picks the display itself and
// writes its number to a pipe once it accepts connections, so no display number is guessed or polled.
class XvfbServer {
public:
    explicit XvfbServer(const std::vector<std::string>& extraArguments = {}) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        std::vector<std::string> arguments{"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp"};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execvp("Xvfb", argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        readDisplay(fds[0]);
        ::close(fds[0]);
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    ~XvfbServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // ":N", or empty when the server did not start.
    [[nodiscard]] const std::string& display() const { return m_display; }

    // Points Qt applications created from now on at this server. False, with a message, when it did not start.
    [[nodiscard]] bool becomeQtDisplay() const {
        if (m_display.empty()) {
            std::cerr << "Xvfb did not start\n";
            return false;
        }
        ::setenv("DISPLAY", m_display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    }

private:
    void readDisplay(int fd) {
        // Generous: a loaded machine may take seconds to start a server.
        constexpr int timeoutMs = 30'000;
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char character = 0;
            if (::read(fd, &character, 1) != 1) {
                break;
            }
            if (character == '\n') {
                m_display = ":" + number;
                return;
            }
            number += character;
        }
    }

    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace norik::tests
