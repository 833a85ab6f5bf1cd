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

    testing::TempFolder m_folder;
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
    m_history.record(reviewWithCategories({"grammar"}), "none", 0);
    EXPECT_EQ(m_raw.integer("SELECT count(*) FROM Correction"), 0);
    EXPECT_EQ(m_history.allCategoryCounts().size(), 1U) << "counted though not kept";
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

TEST_F(HistoryStoreTest, EveryFieldPersistsAcrossReopeningUntilCleared) {
    const TutorResult result{
        .language = "de", .corrected = "Ich bin müde.", .improved = "Ich bin erschöpft.", .issues = {}, .score = -12};
    m_history.record(result, "Ich bin mude.", 5);
    NorikStore reopened{file()};
    const auto stored = HistoryStore{reopened}.recentCorrections(1);
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(std::tie(stored[0].language, stored[0].source, stored[0].corrected, stored[0].improved, stored[0].score),
              std::tie(result.language, "Ich bin mude.", result.corrected, result.improved, result.score));
    EXPECT_LE(stored[0].createdAt, currentTimestamp());

    m_history.record(reviewWithCategories({"grammar"}), "two", 10);
    m_history.clearAll();
    EXPECT_THAT(sources(5), IsEmpty());
    EXPECT_THAT(m_history.allCategoryCounts(), IsEmpty());
}

struct UnusableCase {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
};

class UnusableFileTest : public ::testing::TestWithParam<UnusableCase> {};

// Whatever is at the path stays as it was, and the store works as if history were off.
TEST_P(UnusableFileTest, IsLeftUntouchedAndTheStoreIsInert) {
    const testing::TempFolder folder;
    const auto file = folder.path() / "norik.store";
    GetParam().make(file);
    const auto before = testing::snapshot(folder.path());
    {
        NorikStore store{file};
        EXPECT_FALSE(store.isAvailable());
        HistoryStore history{store};
        history.record(reviewWithCategories({"grammar"}), "ignored", 10);
        history.clearAll();
        EXPECT_THAT(history.recentCorrections(5), IsEmpty());
    }
    EXPECT_EQ(testing::snapshot(folder.path()), before);
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
