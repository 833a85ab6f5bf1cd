// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace norik::core {

// Microseconds since the Unix epoch: two reviews saved in quick succession still order by time.
using Timestamp = std::chrono::sys_time<std::chrono::microseconds>;

[[nodiscard]] inline Timestamp currentTimestamp() {
    return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

// One stored review.
struct Correction {
    Timestamp createdAt = currentTimestamp();
    std::string language;
    std::string source;
    std::string corrected;
    std::string improved;
    std::int64_t score = 0;

    friend bool operator==(const Correction&, const Correction&) = default;
};

// How often mistakes of one category (its raw value) were found.
struct MistakePattern {
    std::string category;
    std::int64_t count = 0;
    Timestamp lastSeen = currentTimestamp();

    friend bool operator==(const MistakePattern&, const MistakePattern&) = default;
};

// The command line reads the stored records as they are.
using StoredCorrection = Correction;
using CategoryCount = MistakePattern;

} // namespace norik::core
