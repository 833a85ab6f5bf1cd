// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace norik::test {

// A child's standard streams are pipes, except that its input can be a pseudo-terminal of its own.
struct Launch {
    std::vector<std::string> arguments;        // the program first
    std::vector<std::string> environment = {}; // "NAME=value", the whole environment of the child; none: ours
    std::string input = {};                    // written to standard input, which is then closed
    bool inputOnTerminal = false;
};

struct Outcome {
    int exitCode = -1; // -1 when the child did not exit normally
    std::string out;
    std::string err;
    std::string echo; // what the input terminal showed: its echo of what was typed
};

// A program run with posix_spawn, its output collected while its input is fed, so that neither side
// can block the other however much flows. Every signal has its default action in the child.
class ChildProcess {
public:
    explicit ChildProcess(const Launch& launch);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }

    // Collects output until standard error contains `text`; false when the time-out ran out first.
    bool waitForErrors(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds{10});
    // Types `text` on the input terminal (or writes it to the input pipe) now.
    void type(std::string_view text);

    // Feeds the rest of the input, collects all output and reaps the child. A child still running at the
    // time-out is killed and reported as a test failure.
    Outcome finish(std::chrono::milliseconds timeout = std::chrono::seconds{30});

private:
    // Moves input and output until `done` holds (true), the time-out runs out or both outputs end (false).
    bool pump(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& done);

    pid_t m_pid = -1;
    int m_input = -1; // pipe or terminal master
    bool m_inputIsTerminal = false;
    int m_output = -1;
    int m_errors = -1;
    std::string m_pendingInput;
    std::size_t m_written = 0;
    Outcome m_outcome;
};

} // namespace norik::test
