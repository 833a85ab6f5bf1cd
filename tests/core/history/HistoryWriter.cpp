// SPDX-License-Identifier: GPL-3.0-or-later
// Records reviews into a store, as the tray app or the command line would, for the process tests.
// Usage: norik_history_writer <store file> <reviews, 0 for until killed>
// Until killed, it says "stored N" on standard error after every review, so a test can kill it mid-write.
#include <filesystem>
#include <string>

#include <cstdio>
#include <unistd.h>

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"

int main(int argc, char** argv) {
    using namespace norik::core;
    if (argc != 3) {
        return 2;
    }
    const long long reviews = std::stoll(argv[2]);
    NorikStore store{std::filesystem::path(argv[1])};
    HistoryStore history{store};
    // Two issues per review, so a whole review always shows as grammar count == 2 x stored reviews.
    const TutorResult result{"en", "corrected", "improved", {{"a", "b", "grammar"}, {"c", "d", "Grammar"}}, 0};
    for (long long i = 0; reviews == 0 || i < reviews; ++i) {
        history.record(result, std::to_string(getpid()) + "-" + std::to_string(i), 1'000'000);
        if (reviews == 0) {
            std::fprintf(stderr, "stored %lld\n", i + 1);
        }
    }
    return 0;
}
