// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "core/history/HistoryRecords.h"
#include "core/history/NorikStore.h"
#include "core/tutor/TutorResult.h"

namespace norik::core {

// The review history on a NorikStore. Only recording tells its caller of failure, so a review that was not
// kept can say so; on an unavailable store the other writes do nothing and reads are empty, and the first
// failed operation of the process is reported once as a problem. Same threading rule as the store: one
// thread at a time.
class HistoryStore {
public:
    explicit HistoryStore(NorikStore& store) noexcept : m_store(store) {}

    // In one transaction: counts every issue once under its normalised category, then, when
    // retentionLimit >= 1, stores the review and keeps only the retentionLimit newest reviews. A limit
    // <= 0 stores no review and deletes none. On failure nothing of it is kept, and the reason is returned.
    std::expected<void, std::string> record(const TutorResult& result, const std::string& source,
                                            std::int64_t retentionLimit);

    // The categories counted most often, at most `limit`; equal counts keep the order first seen.
    [[nodiscard]] std::vector<std::string> topCategories(std::int64_t limit) const;

    // Deletes every stored review and every counter.
    void clearAll();

    // Newest first; equal times in the order stored.
    [[nodiscard]] std::vector<StoredCorrection> recentCorrections(std::int64_t limit) const;

    // Every counter, most frequent first; equal counts keep the order first seen.
    [[nodiscard]] std::vector<CategoryCount> allCategoryCounts() const;

private:
    NorikStore& m_store;
};

} // namespace norik::core
