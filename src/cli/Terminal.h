// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <termios.h>

namespace norik::cli {

[[nodiscard]] bool isTerminal(int descriptor);

// ANSI colour only on a terminal, and never when NO_COLOR is set to a non-empty value (no-color.org).
[[nodiscard]] bool colourWanted(int descriptor);

// Wraps text in ANSI attributes when colour is on, and leaves it untouched otherwise.
class Style {
public:
    explicit Style(bool colour) : m_colour(colour) {}

    [[nodiscard]] std::string heading(std::string_view text) const;
    [[nodiscard]] std::string dim(std::string_view text) const;
    [[nodiscard]] std::string category(std::string_view text) const;
    // Green for a good score, yellow for a middling one, red for a poor one.
    [[nodiscard]] std::string score(std::int64_t score, std::string_view text) const;

private:
    [[nodiscard]] std::string wrap(std::string_view code, std::string_view text) const;

    bool m_colour;
};

// Turns off the echo of a terminal while alive, so a typed secret never shows on the screen; does
// nothing when the descriptor is not a terminal.
class EchoOff {
public:
    explicit EchoOff(int descriptor);
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_descriptor;
    bool m_changed = false;
    termios m_saved{};
};

// A spinner with a message on standard error, redrawn by its own thread until destruction, which clears
// the line again. From kHintAfter on it also tells how to cancel.
class Spinner {
public:
    static constexpr std::chrono::seconds kHintAfter{5};

    explicit Spinner(std::string message);
    ~Spinner();
    Spinner(const Spinner&) = delete;
    Spinner& operator=(const Spinner&) = delete;

private:
    void spin();

    std::string m_message;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace norik::cli
