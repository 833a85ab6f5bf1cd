// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norik::core {

// One review as the model returned it: nothing trimmed, the score unclamped, categories as written.
struct TutorResult {
    struct Issue {
        std::string excerpt;
        std::string explanation;
        std::string category;
        friend bool operator==(const Issue&, const Issue&) = default;
    };

    std::string language;
    std::string corrected;
    std::string improved;
    std::vector<Issue> issues;
    std::int64_t score = 0;

    friend bool operator==(const TutorResult&, const TutorResult&) = default;
};

} // namespace norik::core
