// SPDX-License-Identifier: GPL-3.0-or-later
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sqlite3.h>

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace norik::core {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A second, plain SQLite connection: the tests check and seed the file without going through the code
// under test. Never creates the file.
class RawDatabase {
public:
    explicit RawDatabase(const std::filesystem::path& file) {
        EXPECT_EQ(sqlite3_open_v2(file.c_str(), &m_database, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK) << file;
        sqlite3_busy_timeout(m_database, 5000);
    }
    ~RawDatabase() { sqlite3_close_v2(m_database); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // The first column of the first row as text; empty for a statement without rows.
    [[nodiscard]] std::string text(const std::string& sql) const {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_database, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(m_database);
        const int stepped = sqlite3_step(statement);
        EXPECT_TRUE(stepped == SQLITE_ROW || stepped == SQLITE_DONE) << sql << ": " << sqlite3_errmsg(m_database);
        const auto* text = stepped == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
        std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
        sqlite3_finalize(statement);
        return value;
    }
    [[nodiscard]] std::int64_t integer(const std::string& sql) const {
        const std::string value = text(sql);
        return value.empty() ? 0 : std::stoll(value);
    }
    void execute(const std::string& sql) const { static_cast<void>(text(sql)); }

private:
    sqlite3* m_database = nullptr;
};

TutorResult reviewWithCategories(std::initializer_list<std::string> categories) {
    TutorResult result{.language = "en", .corrected = "corrected", .improved = "improved", .issues = {}, .score = 70};
    for (const std::string& category : categories) {
        result.issues.push_back({.excerpt = "excerpt", .explanation = "why", .category = category});
    }
    return result;
}

const std::string kGarbage(4096, '\x5a');

class HistoryStoreTest : public ::testing::Test {
protected:
    [[nodiscard]] std::filesystem::path file() const { return m_folder.path() / "norik.store"; }
    [[nodiscard]] std::vector<std::string> sources(std::int64_t limit) const {
        std::vector<std::string> result;
        for (const StoredCorrection& correction : m_history.recentCorrections(limit)) {
            result.push_back(correction.source);
        }
        return result;
    }

    tests::TemporaryFolder m_folder;
    NorikStore m_store{file()};
    HistoryStore m_history{m_store};
    RawDatabase m_raw{file()};
};

TEST_F(HistoryStoreTest, CountsEveryIssueOnceUnderItsNormalisedCategoryAndSaturates) {
    m_history.record(reviewWithCategories({"Grammar", " grammar ", "Word Choice", "typo/spelling", "tone?"}), "s", 10);
    m_history.record(reviewWithCategories({"GRAMMAR", "word-choice", "other", "other"}), "t", 10);
    EXPECT_EQ(m_raw.text("SELECT group_concat(category || '=' || count) FROM MistakePattern"),
              "grammar=3,word-choice=2,spelling=1,other=3");
    EXPECT_THAT(m_history.topCategories(2), ElementsAre("grammar", "other")) << "ties keep the order first seen";

    // Only the first of duplicate counters is bumped, and it stops at the largest count.
    m_raw.execute("UPDATE MistakePattern SET count = 9223372036854775806 WHERE category = 'grammar'");
    m_raw.execute("INSERT INTO MistakePattern (category, count, lastSeen) VALUES ('grammar', 5, 0)");
    m_history.record(reviewWithCategories({"grammar", "grammar", "grammar"}), "u", 10);
    EXPECT_EQ(m_raw.text("SELECT group_concat(count) FROM MistakePattern WHERE category = 'grammar'"),
              std::to_string(std::numeric_limits<std::int64_t>::max()) + ",5");
}

TEST_F(HistoryStoreTest, RetentionBoundsTheStoredReviewsAndTiesKeepTheEarlierOnes) {
    for (const char* source : {"one", "two", "three", "four"}) {
        m_history.record(reviewWithCategories({}), source, 3);
    }
    EXPECT_THAT(sources(10), ElementsAre("four", "three", "two"));
    // Far in the future, so these are the newest and tie with each other.
    for (const char* source : {"a", "b", "c"}) {
        m_raw.execute(std::string("INSERT INTO Correction (createdAt, source) VALUES (32503680000000000, '") + source +
                      "')");
    }
    m_history.record(reviewWithCategories({}), "d", 2);
    EXPECT_THAT(sources(10), ElementsAre("a", "b"));
}

TEST_F(HistoryStoreTest, EveryFieldPersistsAcrossReopening) {
    const TutorResult result{
        .language = "de", .corrected = "Ich bin müde.", .improved = "Ich bin erschöpft.", .issues = {}, .score = -12};
    m_history.record(result, "Ich bin mude.", 5);
    NorikStore reopened{file()};
    const auto stored = HistoryStore{reopened}.recentCorrections(1);
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(std::tie(stored[0].language, stored[0].source, stored[0].corrected, stored[0].improved, stored[0].score),
              std::tie(result.language, "Ich bin mude.", result.corrected, result.improved, result.score));
}

// Whatever is at the path stays as it was, and the store works as if history were off.
TEST(UnusableFileTest, IsLeftUntouchedAndTheStoreIsInert) {
    const std::pair<const char*, std::function<void(const std::filesystem::path&)>> rows[] = {
        {"damaged", [](const auto& file) { tests::writeFile(file, kGarbage); }},
        {"from a newer Norik",
         [](const auto& file) {
             { NorikStore created{file}; }
             RawDatabase(file).execute("PRAGMA user_version = 99");
         }},
        {"a folder in the way", [](const auto& file) { std::filesystem::create_directory(file); }},
    };
    for (const auto& [name, make] : rows) {
        const tests::TemporaryFolder folder;
        const auto file = folder.path() / "norik.store";
        make(file);
        const auto before = tests::snapshot(folder.path());
        {
            NorikStore store{file};
            EXPECT_FALSE(store.isAvailable()) << name;
            HistoryStore history{store};
            history.record(reviewWithCategories({"grammar"}), "ignored", 10);
            history.clearAll();
            EXPECT_THAT(history.recentCorrections(5), IsEmpty()) << name;
        }
        EXPECT_EQ(tests::snapshot(folder.path()), before) << name;
    }
}

class HistoryProcessTest : public ::testing::Test {
protected:
    [[nodiscard]] std::string file() const { return (m_folder.path() / "norik.store").string(); }

    [[nodiscard]] test::Launch writer(int reviews) const {
        return {.arguments = {NORIK_HISTORY_WRITER, file(), std::to_string(reviews)}};
    }

    tests::TemporaryFolder m_folder;
};

TEST_F(HistoryProcessTest, TwoProcessesWriteIntoOneNewFileAtOnce) {
    constexpr int kReviews = 400;
    test::ChildProcess first{writer(kReviews)};
    test::ChildProcess second{writer(kReviews)};
    for (test::ChildProcess* child : {&first, &second}) {
        const test::Outcome ended = child->finish();
        EXPECT_EQ(std::pair(ended.exitCode, ended.err), std::pair(0, std::string()));
    }

    RawDatabase raw{file()};
    EXPECT_EQ(raw.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(raw.integer("SELECT count(DISTINCT source) FROM Correction"), 2 * kReviews);
    EXPECT_EQ(raw.text("SELECT group_concat(category || '=' || count) FROM MistakePattern"),
              "grammar=" + std::to_string(2 * 2 * kReviews));
}

TEST_F(HistoryProcessTest, AKilledWriterLeavesOnlyWholeReviews) {
    test::ChildProcess killed{writer(0)};
    ASSERT_TRUE(killed.waitForErrors("stored 40\n")) << "the writer stored too little";
    ASSERT_EQ(::kill(killed.pid(), SIGKILL), 0);
    EXPECT_EQ(killed.finish().exitCode, -1);

    RawDatabase raw{file()};
    EXPECT_EQ(raw.text("PRAGMA integrity_check"), "ok");
    const std::int64_t corrections = raw.integer("SELECT count(*) FROM Correction");
    EXPECT_GE(corrections, 40);
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern"), 2 * corrections);
}

// Each writer reports the problem once, however many reviews it records, and names the file; that the damaged
// file stays as it was is the unusable files' test.
TEST_F(HistoryProcessTest, ADamagedFileOrAFailingWriteIsReportedOnceAndRolledBack) {
    tests::writeFile(file(), kGarbage);
    const test::Outcome damaged = test::ChildProcess(writer(3)).finish();
    EXPECT_EQ(tests::occurrences(damaged.err, file()), 1U) << damaged.err;

    std::filesystem::remove(file());
    ASSERT_EQ(test::ChildProcess(writer(1)).finish().exitCode, 0);
    RawDatabase raw{file()};
    raw.execute("DROP TABLE Correction");
    const test::Outcome failing = test::ChildProcess(writer(3)).finish();
    EXPECT_EQ(tests::occurrences(failing.err, file()), 1U) << failing.err;
    // The counters were bumped before the review failed to store, and went back with it.
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern WHERE category = 'grammar'"), 2);
}

} // namespace
} // namespace norik::core
