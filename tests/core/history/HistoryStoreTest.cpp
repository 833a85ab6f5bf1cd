// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history/HistoryStore.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HistoryTestSupport.h"

#include "core/history/NorikStore.h"

namespace norik::core {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RawDatabase;
using testing::reviewWithCategories;

std::vector<std::string> sources(const std::vector<StoredCorrection>& corrections) {
    std::vector<std::string> result;
    for (const StoredCorrection& correction : corrections) {
        result.push_back(correction.source);
    }
    return result;
}

std::vector<std::pair<std::string, std::int64_t>> counts(const HistoryStore& history) {
    std::vector<std::pair<std::string, std::int64_t>> result;
    for (const CategoryCount& pattern : history.allCategoryCounts()) {
        result.emplace_back(pattern.category, pattern.count);
    }
    return result;
}

class HistoryStoreTest : public ::testing::Test {
protected:
    [[nodiscard]] std::filesystem::path file() const { return m_folder.path() / "norik.store"; }

    testing::TempFolder m_folder;
};

TEST_F(HistoryStoreTest, CountsEveryIssueOnceUnderItsNormalisedCategoryAndRanksThem) {
    NorikStore store{file()};
    ASSERT_TRUE(store.isAvailable()) << store.unavailableReason();
    HistoryStore history{store};

    history.record(reviewWithCategories({"Grammar", " grammar ", "Word Choice", "typo/spelling", "tone?"}), "s", 10);
    history.record(reviewWithCategories({"GRAMMAR", "word-choice", "other", "other"}), "t", 10);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 3}, std::pair{"other", 3},
                                             std::pair{"word-choice", 2}, std::pair{"spelling", 1}));
    EXPECT_THAT(history.topCategories(2), ElementsAre("grammar", "other")) << "ties keep the order first seen";
    EXPECT_THAT(history.topCategories(0), IsEmpty());
}

TEST_F(HistoryStoreTest, BumpsOnlyTheFirstMatchingCounterAndSaturates) {
    { NorikStore created{file()}; }
    RawDatabase raw{file()};
    raw.execute("INSERT INTO MistakePattern (category, count, lastSeen) VALUES ('grammar', 9223372036854775806, 0)");
    raw.execute("INSERT INTO MistakePattern (category, count, lastSeen) VALUES ('grammar', 5, 0)");

    NorikStore store{file()};
    HistoryStore{store}.record(reviewWithCategories({"grammar", "grammar", "grammar"}), "s", 10);
    EXPECT_EQ(raw.text("SELECT group_concat(count, ',') FROM (SELECT count FROM MistakePattern ORDER BY rowid)"),
              std::to_string(std::numeric_limits<std::int64_t>::max()) + ",5");
}

TEST_F(HistoryStoreTest, RetentionBoundsTheStoredReviewsAndTiesKeepTheEarlierOnes) {
    NorikStore store{file()};
    HistoryStore history{store};
    RawDatabase raw{file()};

    history.record(reviewWithCategories({"grammar"}), "none", 0);
    history.record(reviewWithCategories({"grammar"}), "negative", -3);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM Correction"), 0);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 2}));

    for (const char* source : {"one", "two", "three", "four"}) {
        history.record(reviewWithCategories({"spelling"}), source, 3);
    }
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("four", "three", "two"));
    EXPECT_THAT(sources(history.recentCorrections(2)), ElementsAre("four", "three"));

    // Far in the future, so these are the newest and tie with each other.
    for (const char* source : {"a", "b", "c"}) {
        raw.execute(std::string("INSERT INTO Correction (createdAt, source) VALUES (32503680000000000, '") + source +
                    "')");
    }
    history.record(reviewWithCategories({}), "d", 2);
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("a", "b"));
}

TEST_F(HistoryStoreTest, EveryFieldPersistsAcrossReopeningInWalModeUntilCleared) {
    const TutorResult result{
        .language = "de", .corrected = "Ich bin müde.", .improved = "Ich bin erschöpft.", .issues = {}, .score = -12};
    const Timestamp before = currentTimestamp();
    {
        NorikStore store{file()};
        HistoryStore{store}.record(result, "Ich bin mude.", 5);
    }
    const Timestamp after = currentTimestamp();
    NorikStore reopened{file()};
    HistoryStore history{reopened};
    const auto stored = history.recentCorrections(1);
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(std::tie(stored[0].language, stored[0].source, stored[0].corrected, stored[0].improved, stored[0].score),
              std::tie(result.language, "Ich bin mude.", result.corrected, result.improved, result.score));
    EXPECT_GE(stored[0].createdAt, before);
    EXPECT_LE(stored[0].createdAt, after);
    RawDatabase raw{file()};
    EXPECT_EQ(raw.integer("PRAGMA user_version"), 1);
    EXPECT_EQ(raw.text("PRAGMA journal_mode"), "wal");

    history.record(reviewWithCategories({"grammar"}), "two", 10);
    history.clearAll();
    EXPECT_THAT(history.recentCorrections(5), IsEmpty());
    EXPECT_THAT(history.allCategoryCounts(), IsEmpty());
    history.record(reviewWithCategories({"grammar"}), "three", 10);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 1}));
}

struct UnusableCase {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
};

class UnusableFileTest : public HistoryStoreTest, public ::testing::WithParamInterface<UnusableCase> {};

// Whatever is at the path stays as it was, and the store works as if history were off.
TEST_P(UnusableFileTest, IsLeftUntouchedAndTheStoreIsInert) {
    GetParam().make(file());
    const auto before = testing::snapshot(m_folder.path());
    {
        NorikStore store{file()};
        EXPECT_FALSE(store.isAvailable());
        EXPECT_FALSE(store.unavailableReason().empty());
        HistoryStore history{store};
        history.record(reviewWithCategories({"grammar"}), "ignored", 10);
        history.clearAll();
        EXPECT_THAT(history.topCategories(5), IsEmpty());
        EXPECT_THAT(history.recentCorrections(5), IsEmpty());
    }
    EXPECT_EQ(testing::snapshot(m_folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableFileTest,
    ::testing::Values(UnusableCase{"Damaged", [](const auto& file) { testing::writeFile(file, testing::garbage()); }},
                      UnusableCase{"FromANewerNorik",
                                   [](const auto& file) {
                                       { NorikStore created{file}; }
                                       RawDatabase(file).execute("PRAGMA user_version = 99");
                                   }},
                      UnusableCase{"AFolderInTheWay",
                                   [](const auto& file) { std::filesystem::create_directory(file); }}),
    [](const ::testing::TestParamInfo<UnusableCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::core
