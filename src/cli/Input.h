// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <string>

namespace norik::cli {

// Why reading stopped early. `interrupted`: the stop descriptor became readable first.
struct ReadError {
    enum class Kind { interrupted, failed };
    Kind kind = Kind::failed;
    std::string message; // for `failed`: what the system reported
};

// Reads `descriptor` to its end, waiting on `stopDescriptor` at the same time so that a stop ends the
// wait at once. Stops reading early once the text is known to be longer than a review takes (see
// prepareReviewText), since the rest could not change what is reviewed; an endless or huge input then
// costs no more than a long one.
[[nodiscard]] std::expected<std::string, ReadError> readReviewInput(int descriptor, int stopDescriptor);

// One line without its line ending ("\n" or "\r\n"), or up to the end of the input when no newline follows.
// Reads byte by byte so nothing after the line is consumed.
[[nodiscard]] std::expected<std::string, ReadError> readLine(int descriptor, int stopDescriptor);

} // namespace norik::cli
