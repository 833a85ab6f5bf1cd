// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Terminal.h"

#include <array>
#include <chrono>
#include <cstdlib>

#include <cstdio>
#include <unistd.h>

namespace norik::cli {

namespace {

constexpr std::string_view kReset = "\033[0m";
constexpr std::string_view kClearLine = "\r\033[K";
constexpr std::array<std::string_view, 10> kFrames{"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};
constexpr std::chrono::milliseconds kFrameInterval{80};

void writeErrors(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

bool isTerminal(int descriptor) {
    return ::isatty(descriptor) == 1;
}

bool colourWanted(int descriptor) {
    const char* noColour = std::getenv("NO_COLOR");
    return isTerminal(descriptor) && (noColour == nullptr || *noColour == '\0');
}

std::string Style::wrap(std::string_view code, std::string_view text) const {
    if (!m_colour) {
        return std::string(text);
    }
    std::string wrapped(code);
    wrapped.append(text).append(kReset);
    return wrapped;
}

std::string Style::heading(std::string_view text) const {
    return wrap("\033[1m", text);
}

std::string Style::dim(std::string_view text) const {
    return wrap("\033[2m", text);
}

std::string Style::category(std::string_view text) const {
    return wrap("\033[1;36m", text);
}

std::string Style::score(std::int64_t score, std::string_view text) const {
    if (score >= 8) {
        return wrap("\033[1;32m", text);
    }
    return wrap(score >= 5 ? "\033[1;33m" : "\033[1;31m", text);
}

EchoOff::EchoOff(int descriptor) : m_descriptor(descriptor) {
    if (!isTerminal(descriptor) || ::tcgetattr(descriptor, &m_saved) != 0) {
        return;
    }
    termios quiet = m_saved;
    // ECHONL still shows the Enter key, so the cursor moves on as the user expects.
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // TCSANOW keeps what was typed or pasted ahead of the prompt.
    m_changed = ::tcsetattr(descriptor, TCSANOW, &quiet) == 0;
}

EchoOff::~EchoOff() {
    if (m_changed) {
        ::tcsetattr(m_descriptor, TCSANOW, &m_saved);
    }
}

Spinner::Spinner(std::string message) : m_message(std::move(message)), m_thread([this] { spin(); }) {}

Spinner::~Spinner() {
    {
        std::lock_guard lock{m_mutex};
        m_done = true;
    }
    m_wake.notify_all();
    m_thread.join();
    writeErrors(kClearLine);
}

void Spinner::spin() {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock{m_mutex};
    for (std::size_t frame = 0; !m_done; ++frame) {
        std::string line(kClearLine);
        line.append(kFrames[frame % kFrames.size()]).append(" ").append(m_message);
        if (std::chrono::steady_clock::now() - start >= kHintAfter) {
            line.append("  Press Ctrl+C to cancel");
        }
        writeErrors(line);
        m_wake.wait_for(lock, kFrameInterval, [this] { return m_done; });
    }
}

} // namespace norik::cli
