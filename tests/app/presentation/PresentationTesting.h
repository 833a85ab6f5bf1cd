// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <QCoreApplication>
#include <QTest>

#include "app/QtWait.h"
#include "core/tutor/TutorResult.h"

namespace norik::app::testing {

using norik::tests::waitUntil;

// Lets the event loop run for `duration` whatever happens.
inline void runFor(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(5);
    }
}

inline core::TutorResult::Issue issue(std::string excerpt, std::string explanation, std::string category) {
    return {std::move(excerpt), std::move(explanation), std::move(category)};
}

// A review as a model typically answers one: a short paragraph and a handful of issues.
inline core::TutorResult typicalResult(int issueCount = 4, std::int64_t score = 7) {
    core::TutorResult result;
    result.language = "en";
    result.corrected = "Yesterday I went to the market and bought three apples. They were cheaper than I expected.";
    result.improved = "Yesterday I went to the market and picked up three apples, which were cheaper than I expected.";
    const core::TutorResult::Issue pool[] = {
        issue("I goed to the market", "\"Go\" is irregular: its past tense is \"went\".", "grammar"),
        issue("three appels", "\"Apples\" is spelled with \"le\" at the end.", "spelling"),
        issue("more cheap", "One-syllable adjectives take \"-er\": \"cheaper\".", "word-choice"),
        issue("expected.They", "Leave a space after the full stop.", "punctuation"),
    };
    for (int i = 0; i < issueCount; ++i) {
        result.issues.push_back(pool[i % 4]);
    }
    result.score = score;
    return result;
}

} // namespace norik::app::testing
