// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
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
            std::vector<char*> argv(arguments.size() + 1, nullptr);
            std::ranges::transform(arguments, argv.begin(), [](std::string& argument) { return argument.data(); });
            ::execvp("Xvfb", argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        // Generous: a loaded machine may take seconds to start a server.
        pollfd entry{fds[0], POLLIN, 0};
        std::string number;
        char character = 0;
        while (::poll(&entry, 1, 30'000) > 0 && ::read(fds[0], &character, 1) == 1 && character != '\n') {
            number += character;
        }
        ::close(fds[0]);
        if (character == '\n') {
            m_display = ":" + number;
        }
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
    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace norik::tests
