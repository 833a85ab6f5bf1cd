// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Input.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

#include "core/text/Text.h"
#include "core/tutor/TutorService.h"

namespace norik::cli {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kFirstCheckBytes = 256 * 1024;
// A line longer than this is no API key or answer; reading stops there rather than growing without end.
constexpr std::size_t kMaxLineBytes = 64 * 1024;

ReadError failed(const char* action) {
    return ReadError{ReadError::Kind::failed, std::string(action) + ": " + std::strerror(errno)};
}

// Waits until `descriptor` can be read without blocking, unless a stop comes first.
std::expected<void, ReadError> waitReadable(int descriptor, int stopDescriptor) {
    std::array<pollfd, 2> watched{pollfd{descriptor, POLLIN, 0}, pollfd{stopDescriptor, POLLIN, 0}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) >= 0) {
            break;
        }
        if (errno != EINTR) {
            return std::unexpected(failed("cannot wait for input"));
        }
    }
    if (watched[1].revents != 0) {
        return std::unexpected(ReadError{ReadError::Kind::interrupted, {}});
    }
    return {};
}

// Reads what is available, at most `capacity` bytes at `into`; 0 at the end of the input.
std::expected<std::size_t, ReadError> readSome(int descriptor, int stopDescriptor, char* into, std::size_t capacity) {
    if (auto ready = waitReadable(descriptor, stopDescriptor); !ready) {
        return std::unexpected(ready.error());
    }
    for (;;) {
        const ssize_t count = ::read(descriptor, into, capacity);
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            return std::unexpected(failed("cannot read the input"));
        }
    }
}

// True when more characters follow the leading whitespace than a review takes, with a margin of one:
// grapheme rules look one character ahead, so the cut point is then final whatever comes next.
bool knownToBeCut(const std::string& text) {
    const std::string trimmed = core::text::trimmed(text);
    const std::size_t enough = core::kReviewTextLimit + 2;
    return core::text::graphemeCount(core::text::prefixGraphemes(trimmed, enough)) >= enough;
}

} // namespace

std::expected<std::string, ReadError> readReviewInput(int descriptor, int stopDescriptor) {
    std::string text;
    std::size_t nextCheck = kFirstCheckBytes;
    for (;;) {
        const std::size_t used = text.size();
        text.resize(used + kChunkBytes);
        const auto count = readSome(descriptor, stopDescriptor, text.data() + used, kChunkBytes);
        if (!count) {
            return std::unexpected(count.error());
        }
        text.resize(used + *count);
        if (*count == 0) {
            return text;
        }
        // Checked at doubling sizes, so the checks cost no more than one pass over the input.
        if (text.size() >= nextCheck) {
            if (knownToBeCut(text)) {
                return text;
            }
            nextCheck = text.size() * 2;
        }
    }
}

std::expected<std::string, ReadError> readLine(int descriptor, int stopDescriptor) {
    std::string line;
    char byte = 0;
    while (line.size() < kMaxLineBytes) {
        const auto count = readSome(descriptor, stopDescriptor, &byte, 1);
        if (!count) {
            return std::unexpected(count.error());
        }
        if (*count == 0 || byte == '\n') {
            break;
        }
        line.push_back(byte);
    }
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    return line;
}

} // namespace norik::cli
