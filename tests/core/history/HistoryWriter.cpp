// SPDX-License-Identifier: GPL-3.0-or-later
// Records reviews into a store, as the tray app or the command line would, for the process tests.
// Usage: norik_history_writer <store file | --shared> <reviews, 0 for until killed>
// Until killed, it says "stored N" on standard error after every review, so a test can kill it mid-write.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <cstdio>
#include <unistd.h>

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"

int main(int argc, char** argv) {
    using namespace norik::core;
    if (argc != 3) {
        return 2;
    }
    const std::string_view target = argv[1];
    const std::int64_t reviews = std::strtoll(argv[2], nullptr, 10);
    std::unique_ptr<NorikStore> ownStore;
    if (target != "--shared") {
        ownStore = std::make_unique<NorikStore>(std::filesystem::path(target));
    }
    HistoryStore history{ownStore ? *ownStore : NorikStore::shared()};

    // Two issues per review, so a whole review always shows as grammar count == 2 x stored reviews.
    TutorResult result{.language = "en",
                       .corrected = "corrected",
                       .improved = "improved",
                       .issues = {{.excerpt = "a", .explanation = "b", .category = "grammar"},
                                  {.excerpt = "c", .explanation = "d", .category = "Grammar"}},
                       .score = 0};
    const std::string prefix = std::to_string(getpid()) + "-";
    for (std::int64_t i = 0; reviews == 0 || i < reviews; ++i) {
        result.score = i;
        history.record(result, prefix + std::to_string(i), 1'000'000);
        if (reviews == 0) {
            std::fprintf(stderr, "stored %lld\n", static_cast<long long>(i + 1));
        }
    }
    return 0;
}
