// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/tutor/TutorResult.h"

namespace {

using norik::core::HistoryStore;
using norik::core::NorikStore;
using norik::core::TutorResult;

constexpr std::int64_t kRetention = 1000;

const std::string kSource = "Yesterday they was going to the shop when it start to rain, so they stayed inside and "
                            "talk about there plans for the summer holliday in the mountains.";

TutorResult reviewWithFiveIssues() {
    TutorResult result{.language = "en",
                       .corrected = "Yesterday they were going to the shop when it started to rain, so they stayed "
                                    "inside and talked about their plans for the summer holiday in the mountains.",
                       .improved = "Yesterday, as they walked to the shop, it began to rain, so they stayed in and "
                                   "talked about their plans for a summer holiday in the mountains.",
                       .issues = {},
                       .score = 6};
    for (const char* category : {"grammar", "Grammar", "spelling", "word choice", "tense"}) {
        result.issues.push_back(
            {.excerpt = "they was", .explanation = "Subject and verb agree.", .category = category});
    }
    return result;
}

// A real store file in its own temporary folder, already holding a full history.
class FilledStore {
public:
    FilledStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "norik-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            m_folder = pattern;
        }
        m_store = std::make_unique<NorikStore>(m_folder / "norik.store");
        HistoryStore history{*m_store};
        const TutorResult review = reviewWithFiveIssues();
        for (std::int64_t i = 0; i < kRetention; ++i) {
            history.record(review, kSource, kRetention);
        }
    }
    ~FilledStore() {
        m_store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    FilledStore(const FilledStore&) = delete;
    FilledStore& operator=(const FilledStore&) = delete;

    [[nodiscard]] NorikStore& store() { return *m_store; }

private:
    std::filesystem::path m_folder;
    std::unique_ptr<NorikStore> m_store;
};

void recordIntoFullHistory(benchmark::State& state) {
    FilledStore filled;
    if (!filled.store().isAvailable()) {
        state.SkipWithError(filled.store().unavailableReason().c_str());
        return;
    }
    HistoryStore history{filled.store()};
    const TutorResult review = reviewWithFiveIssues();
    for (auto _ : state) {
        history.record(review, kSource, kRetention);
    }
}
BENCHMARK(recordIntoFullHistory)->Unit(benchmark::kMicrosecond);

void topFiveCategories(benchmark::State& state) {
    FilledStore filled;
    if (!filled.store().isAvailable()) {
        state.SkipWithError(filled.store().unavailableReason().c_str());
        return;
    }
    const HistoryStore history{filled.store()};
    for (auto _ : state) {
        auto top = history.topCategories(5);
        benchmark::DoNotOptimize(top);
    }
}
BENCHMARK(topFiveCategories)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
