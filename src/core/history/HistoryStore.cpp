// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history/HistoryStore.h"

#include <limits>
#include <optional>
#include <string_view>

#include "core/history/SqliteConnection.h"
#include "core/tutor/MistakeCategory.h"

namespace norik::core {

namespace {

// rowid follows insertion order (SQLite gives a new row the largest rowid plus one), so it is the tie
// break that keeps equal counts and equal times in the order they were stored.

struct PatternRow {
    std::int64_t rowid = 0;
    std::int64_t count = 0;
};

// The first counter of the category, if any. Its statement is reset on return, so no read is left open
// on the table while it gets written.
SqlResult<std::optional<PatternRow>> firstPattern(SqliteConnection& connection, std::string_view category) {
    auto find =
        connection.prepare("SELECT rowid, count FROM MistakePattern WHERE category = ?1 ORDER BY rowid LIMIT 1");
    if (!find) {
        return std::unexpected(find.error());
    }
    const auto found = find->bind(1, category).step();
    if (!found) {
        return std::unexpected(found.error());
    }
    if (!*found) {
        return std::nullopt;
    }
    return PatternRow{.rowid = find->int64At(0), .count = find->int64At(1)};
}

SqlResult<void> bumpPattern(SqliteConnection& connection, std::string_view category, std::int64_t now) {
    const auto pattern = firstPattern(connection, category);
    if (!pattern) {
        return std::unexpected(pattern.error());
    }
    if (!*pattern) {
        auto insert = connection.prepare("INSERT INTO MistakePattern (category, count, lastSeen) VALUES (?1, 1, ?2)");
        if (!insert) {
            return std::unexpected(insert.error());
        }
        return insert->bind(1, category).bind(2, now).run();
    }
    const std::int64_t count = (*pattern)->count;
    const std::int64_t bumped = count < std::numeric_limits<std::int64_t>::max() ? count + 1 : count;
    auto update = connection.prepare("UPDATE MistakePattern SET count = ?1, lastSeen = ?2 WHERE rowid = ?3");
    if (!update) {
        return std::unexpected(update.error());
    }
    return update->bind(1, bumped).bind(2, now).bind(3, (*pattern)->rowid).run();
}

SqlResult<void> storeCorrection(SqliteConnection& connection, const TutorResult& result, const std::string& source,
                                std::int64_t now) {
    auto insert = connection.prepare("INSERT INTO Correction (createdAt, language, source, corrected, improved, score) "
                                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    if (!insert) {
        return std::unexpected(insert.error());
    }
    return insert->bind(1, now)
        .bind(2, result.language)
        .bind(3, source)
        .bind(4, result.corrected)
        .bind(5, result.improved)
        .bind(6, result.score)
        .run();
}

SqlResult<std::int64_t> correctionCount(SqliteConnection& connection) {
    auto count = connection.prepare("SELECT count(*) FROM Correction");
    if (!count) {
        return std::unexpected(count.error());
    }
    if (const auto counted = count->step(); !counted) {
        return std::unexpected(counted.error());
    }
    return count->int64At(0);
}

SqlResult<void> trimCorrections(SqliteConnection& connection, std::int64_t limit) {
    const auto count = correctionCount(connection);
    if (!count) {
        return std::unexpected(count.error());
    }
    if (*count <= limit) {
        return {};
    }
    auto trim = connection.prepare("DELETE FROM Correction WHERE rowid IN (SELECT rowid FROM Correction "
                                   "ORDER BY createdAt DESC, rowid ASC LIMIT -1 OFFSET ?1)");
    if (!trim) {
        return std::unexpected(trim.error());
    }
    return trim->bind(1, limit).run();
}

std::int64_t microseconds(Timestamp timestamp) {
    return timestamp.time_since_epoch().count();
}

Timestamp timestampAt(std::int64_t microseconds) {
    return Timestamp{std::chrono::microseconds{microseconds}};
}

// A negative LIMIT is none in SQLite.
constexpr std::int64_t kNoLimit = -1;

// A query read to its end. Any failure is reported and gives an empty list, never a partial one.
template <typename Row, typename ReadRow>
std::vector<Row> readRows(SqliteConnection* connection, const char* sql, std::int64_t limit, ReadRow readRow) {
    if (connection == nullptr) {
        return {};
    }
    auto select = connection->prepare(sql);
    if (!select) {
        connection->reportFailureOnce(select.error());
        return {};
    }
    select->bind(1, limit);
    std::vector<Row> rows;
    for (;;) {
        const auto row = select->step();
        if (!row) {
            connection->reportFailureOnce(row.error());
            return {};
        }
        if (!*row) {
            return rows;
        }
        rows.push_back(readRow(*select));
    }
}

} // namespace

std::expected<void, std::string> HistoryStore::record(const TutorResult& result, const std::string& source,
                                                      std::int64_t retentionLimit) {
    SqliteConnection* connection = m_store.connection();
    if (connection == nullptr) {
        return std::unexpected(m_store.unavailableReason());
    }
    const std::int64_t now = microseconds(currentTimestamp());
    const auto outcome = connection->writeTransaction([&]() -> SqlResult<void> {
        for (const TutorResult::Issue& issue : result.issues) {
            const auto category = mistake_category::rawValue(mistake_category::normalized(issue.category));
            if (auto bumped = bumpPattern(*connection, category, now); !bumped) {
                return bumped;
            }
        }
        if (retentionLimit < 1) {
            return {};
        }
        if (auto stored = storeCorrection(*connection, result, source, now); !stored) {
            return stored;
        }
        return trimCorrections(*connection, retentionLimit);
    });
    if (!outcome) {
        connection->reportFailureOnce(outcome.error());
    }
    return outcome;
}

std::vector<std::string> HistoryStore::topCategories(std::int64_t limit) const {
    if (limit < 1) {
        return {};
    }
    return readRows<std::string>(m_store.connection(),
                                 "SELECT category FROM MistakePattern ORDER BY count DESC, rowid ASC LIMIT ?1", limit,
                                 [](const Statement& row) { return row.textAt(0); });
}

void HistoryStore::clearAll() {
    SqliteConnection* connection = m_store.connection();
    if (connection == nullptr) {
        return;
    }
    const auto outcome = connection->writeTransaction([&]() -> SqlResult<void> {
        for (const char* sql : {"DELETE FROM Correction", "DELETE FROM MistakePattern"}) {
            auto statement = connection->prepare(sql);
            if (!statement) {
                return std::unexpected(statement.error());
            }
            if (auto deleted = statement->run(); !deleted) {
                return deleted;
            }
        }
        return {};
    });
    if (!outcome) {
        connection->reportFailureOnce(outcome.error());
    }
}

std::vector<StoredCorrection> HistoryStore::recentCorrections(std::int64_t limit) const {
    if (limit < 1) {
        return {};
    }
    return readRows<StoredCorrection>(m_store.connection(),
                                      "SELECT createdAt, language, source, corrected, improved, score FROM Correction "
                                      "ORDER BY createdAt DESC, rowid ASC LIMIT ?1",
                                      limit, [](const Statement& row) -> StoredCorrection {
                                          return {.createdAt = timestampAt(row.int64At(0)),
                                                  .language = row.textAt(1),
                                                  .source = row.textAt(2),
                                                  .corrected = row.textAt(3),
                                                  .improved = row.textAt(4),
                                                  .score = row.int64At(5)};
                                      });
}

std::vector<CategoryCount> HistoryStore::allCategoryCounts() const {
    return readRows<CategoryCount>(
        m_store.connection(),
        "SELECT category, count, lastSeen FROM MistakePattern ORDER BY count DESC, rowid ASC LIMIT ?1", kNoLimit,
        [](const Statement& row) -> CategoryCount {
            return {.category = row.textAt(0), .count = row.int64At(1), .lastSeen = timestampAt(row.int64At(2))};
        });
}

} // namespace norik::core
